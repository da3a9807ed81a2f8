// VirtualInstrument: the DeviceInterface of our Vantorel_Cpp module, an
// instrument that exists only in software.
//
// It connects after a configurable delay, stores jobs, measures them sample
// by sample on its own thread, keeps every measured sample (spectra, L*a*b*,
// EXR images) and delivers copies of them, corrects EXR images, keeps a log,
// optionally remembers jobs and samples across restarts in a store file, and
// can be told to misbehave (SimConfig::faults). Result codes: SimCodes.h.
//
// Operations and what they need:
// - SetLogger, GetLog, SendUserMessage, CorrectExrImage: work at any time.
// - ConnectUsb, ConnectNetwork: block for connectMs (not holding any lock),
//   then connect; a failed connect leaves the instrument not connected.
// - GetState: never blocks; deviceState 0 when not connected.
// - DoJob, Cancel, GetJobs, AddJob, DeleteJob, GetSample: kNotConnectedCode
//   before a successful connect.
// A failing operation returns its code and leaves its out-parameters as it
// found them, except three injected faults: getjobs=fail still fills the
// list, getstate=fail-first the state (as ready), correct=warn the image.
//
// Threads: every operation may be called from any thread, concurrently; the
// instrument guards its state with one mutex that is never held while it
// sleeps, measures or writes the store file. The measuring thread and the
// log's forwarding thread (InstrumentLog) belong to the object; the destructor
// stops them (discarding a sample in progress, forwarding the last lines to
// the sink, which must outlive the instrument) and releases connects that are
// still waiting. The short operations (GetState, Cancel at rest, GetJobs,
// GetLog) take the mutex once and wake no other thread. The module's own
// instance is never destroyed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "device/DeviceInterface.h"
#include "sim/instrument/InstrumentLog.h"
#include "sim/instrument/JobStore.h"
#include "sim/instrument/SimConfig.h"

namespace instrument {

class VirtualInstrument final : public Vexil::Device_Cpp::DeviceInterface {
 public:
  // Takes its configuration as given (no environment is read); writes the
  // configuration's warnings to the log and, when config.storePath is set,
  // restores jobs and samples from that file (a damaged file is logged as an
  // error and renamed to "<file>.damaged").
  explicit VirtualInstrument(SimConfig config);
  ~VirtualInstrument();
  VirtualInstrument(const VirtualInstrument&) = delete;
  VirtualInstrument& operator=(const VirtualInstrument&) = delete;

  std::int32_t SetLogger(Vexil::Device_Cpp::LogInterface* logger) override;
  std::int32_t ConnectUsb(std::int32_t port) override;
  std::int32_t ConnectNetwork(const std::uint8_t* address4) override;
  std::int32_t GetState(Vexil::Device_Cpp::State& state) override;
  std::int32_t DoJob(Vexil::Device_Cpp::IString& job) override;
  std::int32_t GetSample(Vexil::Device_Cpp::IString& job, std::int32_t sampleIndex,
                         Vexil::Device_Cpp::IStringVector& imageChannels,
                         Vexil::Device_Cpp::IStringVector& spectralChannels,
                         Vexil::Device_Cpp::ImageChannelContentTypeVector& imageTypes,
                         Vexil::Device_Cpp::SpectralChannelContentTypeVector& spectralTypes,
                         std::int32_t option1, std::int32_t option2,
                         Vexil::Device_Cpp::SampleInfo& info,
                         Vexil::Device_Cpp::ImageContentVector& images,
                         Vexil::Device_Cpp::SpectrumContentVector& spectra) override;
  std::int32_t Cancel() override;
  std::int32_t GetJobs(Vexil::Device_Cpp::JobInfoVector& jobs) override;
  std::int32_t AddJob(Vexil::Device_Cpp::IJobDescription& job) override;
  std::int32_t DeleteJob(Vexil::Device_Cpp::IString& job) override;
  std::int32_t GetLog(Vexil::Device_Cpp::IUintVector8& log) override;

  // Every log line written so far has reached the driver's sink when this
  // returns (the module calls it at process exit, see Entry.cpp).
  void FlushLog() { log_.Flush(); }
  std::int32_t SendUserMessage(Vexil::Device_Cpp::IString32& text) override;
  std::int32_t CorrectExrImage(Vexil::Device_Cpp::IUintVector8& in,
                               Vexil::Device_Cpp::IUintVector8& out,
                               Vexil::Device_Cpp::IFloatVector& spectral) override;

 private:
  // Shared part of both connects, after the address check.
  std::int32_t Connect(std::uint8_t kind, const std::string& what);
  void LoadStore();
  // Writes the current jobs to the store file, if there is one.
  void Persist();
  // Stops the running measurement, if any; the job keeps what it measured.
  // Returns the identifier of the job that was measuring. Needs mutex_.
  std::optional<std::string> StopMeasurementLocked();
  void MeasureLoop();

  const SimConfig config_;
  InstrumentLog log_;

  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  bool stopping_ = false;
  int waitingCalls_ = 0;  // connects sleeping or hanging on changed_
  bool connected_ = false;
  std::uint8_t connectionKind_ = 0;
  std::uint32_t notReadyLeft_ = 0;
  // getstate=fail-first: the next GetState fails (set by a connect and by
  // every GetSample).
  bool stateReadFailPending_ = false;
  JobStore jobs_;
  std::optional<std::string> measuringJob_;
  bool measureRequested_ = false;
  std::uint64_t runToken_ = 0;  // changes whenever a measurement starts or stops

  std::mutex storeMutex_;  // serialises store writes; taken before mutex_, never after

  std::thread measureThread_;  // last: starts after everything above exists
};

}  // namespace instrument
