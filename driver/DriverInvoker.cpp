#include "driver/DriverInvoker.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "messages/Messages.h"
#include "messages/Protocol.h"
#include "network/AcceptConnection.h"
#include "network/ErrorReporting.h"
#include "platform/FatalMessage.h"
#include "platform/Module.h"
#include "platform/Process.h"
#include "platform/Socket.h"
#include "platform/Time.h"

namespace {

// Time the receive loop serves before Tick returns to the main loop.
constexpr std::int32_t kServeWindowMs = 10000;
// Pause between attempts to set up the listening socket again after it
// failed, so that a port held by another program does not spin a core.
constexpr std::uint32_t kListenRetryPauseMs = 10;

// What the error handler noticed while this thread served a client. Only the
// main thread serves, so an allocation that fails on it then was caused by
// the client's request (a huge body, text or answer): that ends the client,
// not the process.
struct ServingState {
  bool serving = false;
  // Byte count of the last allocation that failed while serving (0: none).
  std::size_t failedAllocation = 0;
  // True once an "Error: " line was written for the client being served.
  bool lineWritten = false;
};
constinit thread_local ServingState t_serving;

// Marks the calling thread as serving a client for the life of the guard.
class ServingScope {
 public:
  ServingScope() { t_serving = ServingState{true, 0, false}; }
  ~ServingScope() { t_serving.serving = false; }
  ServingScope(const ServingScope&) = delete;
  ServingScope& operator=(const ServingScope&) = delete;
};

// Writes one line "Error: <text>" to standard error without allocating, so
// that it works when memory is short.
void WriteErrorLine(const char* text) {
  std::fputs("Error: ", stderr);
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  t_serving.lineWritten = true;
}
void WriteErrorLine(const std::string& text) { WriteErrorLine(text.c_str()); }

// The line for a client whose request could not get the memory it needed.
void WriteOutOfMemoryLine() {
  char line[160];
  if (t_serving.failedAllocation != 0) {
    std::snprintf(line, sizeof line,
                  "out of memory while serving a request (%zu bytes could not be allocated); "
                  "client dropped",
                  t_serving.failedAllocation);
  } else {
    std::snprintf(line, sizeof line, "out of memory while serving a request; client dropped");
  }
  WriteErrorLine(line);
}

}  // namespace

void DriverErrorHandler(void* source, const char* message, std::int32_t code) {
  if (source == nullptr) {
    if (code == Network::kAllocationFailedCode && t_serving.serving) {
      // Caused by the client being served: the request fails (null or
      // std::bad_alloc) and the client is dropped with one line naming it.
      std::size_t size = 0;
      if (message != nullptr && std::sscanf(message, "%*[^0-9]%zu", &size) == 1) {
        t_serving.failedAllocation = size;
      }
      return;
    }
    if (code != Network::kAllocationFailedCode) return;  // e.g. the handler replaced
    // No client behind it (start-up): the process cannot go on safely.
    Platform::ShowFatalMessage(message != nullptr ? message : "");
    Platform::ExitImmediately(1);
  }
  const std::string text = message != nullptr ? message : "";
  // A failure of one client's connection ends that client only: the network
  // library returns its failure value and the driver accepts the next client.
  // The library reports a connection failure with the Connection itself as
  // the source.
  auto* failed = static_cast<Network::Connection*>(source);
  if (code == Network::kReceiveFailedCode &&
      Platform::IsKeepAliveDropError(failed->LastSocketError())) {
    WriteErrorLine(text + ": the client stopped answering keepalive probes; client dropped");
    return;
  }
  WriteErrorLine(text);
}

DriverInvoker::DriverInvoker() : exitProcess(&Platform::ExitNormally) {}

bool DriverInvoker::Init() {
  Network::SetErrorHandler(&DriverErrorHandler);

  Platform::ModuleHandle deviceModule = Platform::LoadModule(Vexil::Device_Cpp::kDeviceModuleName);
  if (deviceModule == nullptr) {
    Platform::ShowFatalMessage("Can't load Vantorel_Cpp.dll");
    return false;
  }
  auto getInterface = reinterpret_cast<GetDeviceInterfaceFunction>(
      Platform::ResolveSymbol(deviceModule, Vexil::Device_Cpp::kDeviceInterfaceExport));
  device = getInterface != nullptr ? getInterface() : nullptr;
  if (device == nullptr) {
    Platform::ShowFatalMessage("Can't load Vantorel_Cpp.dll - module corrupted");
    return false;
  }
  device->SetLogger(&logger);

  Platform::ModuleHandle glueModule = Platform::LoadModule(kGlueModuleName);
  auto getGlue = glueModule == nullptr
                     ? nullptr
                     : reinterpret_cast<GetGlueInterfaceFunction>(
                           Platform::ResolveSymbol(glueModule, kGlueInterfaceExport));
  glue = getGlue != nullptr ? getGlue() : nullptr;
  if (glue == nullptr) {
    // Without the glue module no measurement can be answered: stop.
    std::cerr << "VantorelDriverCLRGlue.dll not found or failed to load!" << std::endl;
    return false;
  }
  // A port that cannot be listened on ends the start; a failed accept or a
  // refused Connection object (no client served yet) is tried again.
  while (!ListenNewConnection()) {
    if (acceptFailure.step != Network::AcceptStep::Accept &&
        acceptFailure.step != Network::AcceptStep::Allocate) {
      return false;
    }
    Platform::SleepMs(kListenRetryPauseMs);
  }
  return true;
}

bool DriverInvoker::Tick() {
  while (!Serve()) {
    while (!ListenNewConnection()) Platform::SleepMs(kListenRetryPauseMs);
    // The new client is served at once: a tool that sends one request per
    // connection would otherwise wait for the main loop's pause every time.
  }
  return true;
}

bool DriverInvoker::Serve() {
  const ServingScope scope;
  bool served = false;
  try {
    served = connection != nullptr && connection->ReceiveWithHandlers(kServeWindowMs);
  } catch (const ByteBufferException& e) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "malformed request body (needed %u bytes at offset %u of %u); client dropped",
                  static_cast<unsigned>(e.length), static_cast<unsigned>(e.endPosition - e.length),
                  static_cast<unsigned>(e.bufferSize));
    WriteErrorLine(line);
  } catch (const std::bad_alloc&) {
    WriteOutOfMemoryLine();
  } catch (const std::exception& e) {
    WriteErrorLine(std::string("request failed: ") + e.what() + "; client dropped");
  } catch (...) {
    WriteErrorLine("request failed; client dropped");
  }
  if (served || connection == nullptr || t_serving.lineWritten) return served;
  // One line for the drops that nothing has reported yet.
  switch (connection->LastDropReason()) {
    case Network::DropReason::Stalled:
      WriteErrorLine("a frame stopped arriving for " +
                     std::to_string(connection->FrameStallLimit() / 1000) +
                     " s (stalled client); client dropped");
      break;
    case Network::DropReason::SendStalled:
      WriteErrorLine("client stopped reading: no byte of an answer was accepted for " +
                     std::to_string(connection->SendStallLimit() / 1000) + " s; client dropped");
      break;
    case Network::DropReason::OutOfMemory:
      WriteOutOfMemoryLine();
      break;
    default:
      break;
  }
  return served;
}

bool DriverInvoker::ListenNewConnection() {
  delete connection;
  connection = nullptr;
  connection = Network::AcceptConnection(Protocol::kPort, &acceptFailure);
  if (connection == nullptr) return false;
  RegisterHandlers(*connection);
  return true;
}

void DriverInvoker::RegisterHandlers(Network::Connection& target) {
  using namespace Protocol;
  target.SetSerializer<MsgAnswerJobInfo>(kGetJobs, &SerializeMsgAnswerJobInfo);
  target.SetSerializer<MsgAnswerGetLog>(kGetLog, &SerializeMsgAnswerGetLog);
  target.SetSerializer<MsgAnswerGetSample>(kGetSample, &SerializeMsgAnswerGetSample);
  target.SetSerializer<MsgAnswerGetMeasure>(kGetMeasure, &SerializeMsgAnswerGetMeasure);

  target.SetDeserializer<MsgDeleteJob>(kDeleteJob, &SerializeMsgDeleteJob);
  target.SetDeserializer<MsgGetSample>(kGetSample, &SerializeMsgGetSample);
  target.SetDeserializer<MsgAddJob>(kAddJob, &SerializeMsgAddJob);
  target.SetDeserializer<MsgDoJob>(kDoJob, &SerializeMsgDoJob);
  target.SetDeserializer<MsgUserMessage>(kUserMessage, &SerializeMsgUserMessage);
  target.SetDeserializer<MsgGetMeasure>(kGetMeasure, &SerializeMsgGetMeasure);

  DriverInvoker* self = this;
  target.SetHandler<MsgUsbConnect>(kUsbConnect,
                                   [self](MsgUsbConnect& msg) { self->UsbConnect(msg.timeoutMs); });
  target.SetHandler<MsgNetworkConnect>(kNetworkConnect, [self](MsgNetworkConnect& msg) {
    self->NetworkConnect(msg.address, msg.timeoutMs);
  });
  target.SetHandler<MsgGetJobs>(kGetJobs, [self](MsgGetJobs&) { self->GetJobs(); });
  target.SetHandler<MsgTerminate>(kTerminate, [self](MsgTerminate&) { self->Terminate(); });
  target.SetHandler<MsgDeleteJob>(kDeleteJob,
                                  [self](MsgDeleteJob& msg) { self->DeleteJob(msg.name); });
  target.SetHandler<MsgGetMeasure>(kGetMeasure,
                                   [self](MsgGetMeasure& msg) { self->GetMeasure(msg.name); });
  target.SetHandler<MsgGetSample>(
      kGetSample, [self](MsgGetSample& msg) { self->GetSample(msg.name, msg.sampleIndex); });
  target.SetHandler<MsgAddJob>(
      kAddJob, [self](MsgAddJob& msg) { self->AddJob(msg.name, msg.make, msg.sampleCount); });
  target.SetHandler<MsgDoJob>(kDoJob, [self](MsgDoJob& msg) { self->DoJob(msg.name); });
  target.SetHandler<MsgCancel>(kCancel, [self](MsgCancel&) { self->Cancel(); });
  target.SetHandler<MsgUserMessage>(kUserMessage,
                                    [self](MsgUserMessage& msg) { self->UserMessage(msg.text); });
  target.SetHandler<MsgGetLog>(kGetLog, [self](MsgGetLog&) { self->GetLog(); });
}

void DriverInvoker::AnswerCode(std::size_t typeId, std::int32_t code) {
  if (connection != nullptr) connection->SendMsg(typeId, &code);
}
