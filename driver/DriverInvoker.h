// DriverInvoker: the driver's application object.
//
// It loads the device module and the glue module, accepts one client at a
// time on the protocol port, registers the body readers, body writers and
// request handlers on that client's Connection, and serves its requests one
// after the other. Every request gets exactly one answer before its handler
// returns (the terminate request gets none).
//
// Threads: everything here runs on the main thread, except the connect
// workers (ConnectRequests.cpp), which touch only the device interface and a
// block of arguments they share with the waiting handler. The device module
// may call `logger` from threads of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/DeviceInterface.h"
#include "device/GlueInterface.h"
#include "device/VantorelLogger.h"
#include "network/AcceptConnection.h"
#include "network/Connection.h"
#include "platform/Thread.h"

struct VantorelMeasurementsFull;
struct MsgAnswerGetMeasure;

class DriverInvoker {
 public:
  // Pointers null, no device session.
  DriverInvoker();
  DriverInvoker(const DriverInvoker&) = delete;
  DriverInvoker& operator=(const DriverInvoker&) = delete;

  // Installs the error handler, loads both modules, hands `logger` to the
  // device and accepts the first client. False when the process must end
  // with exit code 1 (a module is missing or broken, or no listening socket
  // could be set up); the reason has been shown.
  bool Init();
  // One pass of the main loop: serves the client until a window of 10 s of
  // handled messages ends; a client that goes is replaced by the next one,
  // which is served at once (the main loop's pause falls between serving
  // windows only). Always true. Whatever the client does (a malformed body,
  // a request that needs more memory than there is, an answer it stops
  // reading) ends that client with one "Error: " line on standard error,
  // never the process.
  bool Tick();
  // Serves the current client until its window of 10 s of handled messages
  // ends (true) or the client is dropped (false; the reason is written to
  // standard error where it needs saying: a stalled frame or answer, a
  // malformed body, a request that needed more memory than there is).
  bool Serve();
  // Deletes the current connection, blocks until a new client connects to
  // the protocol port and registers the protocol on it. False when no
  // listening socket could be set up (connection stays null).
  bool ListenNewConnection();

  // Registers the 22 body writers, body readers and request handlers on
  // `target`, in the protocol's order. Used by ListenNewConnection and by
  // tests that serve a fake connection.
  void RegisterHandlers(Network::Connection& target);

  // Request handlers: each sends its answer on `connection`.
  void UsbConnect(std::uint32_t timeoutMs);
  void NetworkConnect(const std::uint8_t* address, std::uint32_t timeoutMs);
  void GetJobs();
  void AddJob(const std::string& name, const std::string& make, std::uint32_t sampleCount);
  void DeleteJob(const std::string& name);
  void DoJob(const std::string& name);
  void Cancel();
  void GetMeasure(const std::string& name);
  void GetSample(const std::string& name, std::int32_t sampleIndex);
  void GetLog();
  void UserMessage(const std::u32string& text);
  // Closes the client connection without an answer and ends the process with
  // exit code 0 through `exitProcess`.
  void Terminate();

  // The current client; owned, deleted before the next accept. Null until the
  // first client is accepted.
  Network::Connection* connection = nullptr;
  // Owned by the device module, never released.
  Vexil::Device_Cpp::DeviceInterface* device = nullptr;
  // Owned by the glue module, never released.
  GlueInterface* glue = nullptr;
  // Handed to the device module; the invoker must not move after Init.
  VantorelLogger logger;
  // True while a device session is established; survives client changes.
  bool deviceConnected = false;

  // How Terminate ends the process (tests replace it). Must not return.
  void (*exitProcess)(int code);
  // Readiness poll pause of the measurement request (tests shorten it).
  std::uint32_t readinessPollMs = 1000;
  // Pause of a connect request that checks for its own worker after a signal
  // the worker did not give (tests shorten it).
  std::uint32_t staleSignalPollMs = 5;
  // How a connect request starts its worker: on a detached thread (tests may
  // run workers on a thread of their own). A replacement runs `work` exactly
  // once, on another thread or before it returns, or returns false and never
  // runs it.
  bool (*startWorker)(std::function<void()> work) = &Platform::StartDetachedThread;
  // Why the last ListenNewConnection failed.
  Network::AcceptFailure acceptFailure;

 private:
  // Sends a bare 32-bit result code under `typeId`.
  void AnswerCode(std::size_t typeId, std::int32_t code);
  // Waits until the instrument reports ready (deviceState 2). 0 when ready;
  // otherwise the code to answer (the session has then been closed).
  std::int32_t WaitUntilReady(std::int32_t& currentResult);
  // Shared connect flow: event name, worker body.
  void RunConnect(const char* eventName, bool network, const std::uint8_t* address,
                  std::uint32_t timeoutMs);
  // Replaces each image of `data` by the device's correction, in ascending
  // geometry order. An image without a spectrum of its geometry, or whose
  // correction failed without an output, keeps its bytes; either is one
  // warning through `logger`, as is a failed correction that did deliver.
  void CorrectImages(VantorelMeasurementsFull& data);
};

// The driver's network error handler. An allocation failure (code 3, no
// source) on the thread that serves a client was caused by that client's
// request: it is noted for the drop line and the request fails. Any other
// allocation failure is fatal: message box, exit code 1. Errors of a
// connection (codes 5 to 8) end only that client: one "Error: " line on
// standard error.
void DriverErrorHandler(void* source, const char* message, std::int32_t code);
