// DeviceInterface: the boundary to the instrument module, loaded once by name
// (kDeviceModuleName) and reached through the object its export
// kDeviceInterfaceExport returns.
//
// Ownership: the object belongs to the module and lives until the process
// ends; the driver never deletes it (protected non-virtual destructor) and
// never unloads the module. Every argument is a caller-owned value of
// device/ passed by reference or pointer, valid during the call only; the
// module fills out-parameters through the values' virtual operations and
// copies whatever it keeps.
//
// Results: every operation returns a 32-bit code, 0 meaning success; any
// other code is the module's own and the driver passes it on to its client
// unless the entry says the result is ignored. Out-parameters are read only
// after a 0 result, and even then as untrusted: readers check counts.
//
// Threads: the driver calls SetLogger first, then ConnectUsb and
// ConnectNetwork from a short-lived worker thread, and every other operation
// from its request thread, one at a time. A connect may still be running (and
// may run past the caller's time-out) while the request thread calls other
// operations; a module must cope with that.
//
// The slot order is the contract with the module: never reorder, insert or
// remove an operation.
#pragma once

#include <cstdint>

#include "device/DeviceValues.h"
#include "device/LogInterface.h"

namespace Vexil::Device_Cpp {

// Module file name without extension, and the export that yields the object.
inline constexpr char kDeviceModuleName[] = "Vantorel_Cpp";
inline constexpr char kDeviceInterfaceExport[] = "getInterface";

class DeviceInterface {
 public:
  // Hands the module the driver's log sink; the sink outlives the module's
  // use of it. Called once, first, right after the object is obtained.
  // Does not block. Result ignored.
  virtual std::int32_t SetLogger(LogInterface* logger) = 0;

  // Connects to the instrument over USB; the driver passes 0. Blocks until
  // connected or failed (on the connect worker thread). 0: connected.
  virtual std::int32_t ConnectUsb(std::int32_t port) = 0;

  // Connects over the network to the IPv4 address in address4[0..3], the
  // four bytes as the client sent them (the driver does not reorder them).
  // Blocks like ConnectUsb. 0: connected.
  virtual std::int32_t ConnectNetwork(const std::uint8_t* address4) = 0;

  // Fills `state`; deviceState() 2 means a sample can be fetched. Should not
  // block for long: the driver polls it once a second while it waits.
  virtual std::int32_t GetState(State& state) = 0;

  // Starts measuring the stored job `job`. May return before the measurement
  // ends. The code goes to the client.
  virtual std::int32_t DoJob(IString& job) = 0;

  // Fetches sample `sampleIndex` of job `job`. The driver asks for the image
  // channels and spectral channels {"ALL"}, the image types {0}, the
  // spectral types {(0, 0), (3, 0)} and passes `option1` 5 and `option2` 1.
  // On 0 the module has filled `info` and, per geometry (named), `spectra`
  // (entry 0: 31 spectral values; entry 1: L*a*b*) and `images` (entry 0:
  // the EXR file bytes). Blocks while the data is read from the instrument.
  virtual std::int32_t GetSample(IString& job, std::int32_t sampleIndex,
                                 IStringVector& imageChannels, IStringVector& spectralChannels,
                                 ImageChannelContentTypeVector& imageTypes,
                                 SpectralChannelContentTypeVector& spectralTypes,
                                 std::int32_t option1, std::int32_t option2, SampleInfo& info,
                                 ImageContentVector& images, SpectrumContentVector& spectra) = 0;

  // Cancels what the instrument is doing. The code goes to the client.
  virtual std::int32_t Cancel() = 0;

  // Fills `jobs` with the stored jobs (identifier, sample count, state code
  // in modeInfo().stateCode()). Blocks while the list is read.
  virtual std::int32_t GetJobs(JobInfoVector& jobs) = 0;

  // Stores a job. The driver calls DeleteJob with the same identifier first.
  // The code goes to the client.
  virtual std::int32_t AddJob(IJobDescription& job) = 0;

  // Deletes the stored job `job`, if any. Result ignored.
  virtual std::int32_t DeleteJob(IString& job) = 0;

  // Fills `log` with the module's log text as bytes, no terminator.
  virtual std::int32_t GetLog(IUintVector8& log) = 0;

  // Shows a user message (UTF-32) on the instrument. The code goes to the
  // client.
  virtual std::int32_t SendUserMessage(IString32& text) = 0;

  // Corrects the EXR image `in` with the 31 spectral values `spectral` of
  // the same geometry and writes the corrected EXR file into `out`. The
  // driver replaces the image by `out`. Result ignored.
  virtual std::int32_t CorrectExrImage(IUintVector8& in, IUintVector8& out,
                                       IFloatVector& spectral) = 0;

 protected:
  DeviceInterface() = default;
  DeviceInterface(const DeviceInterface&) = default;
  DeviceInterface& operator=(const DeviceInterface&) = default;
  ~DeviceInterface() = default;
};

}  // namespace Vexil::Device_Cpp

// Type of the module's export kDeviceInterfaceExport: no arguments, returns
// the module's object (null if the module has none to give).
extern "C" {
typedef Vexil::Device_Cpp::DeviceInterface* (*GetDeviceInterfaceFunction)();
}
