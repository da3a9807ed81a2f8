#include "driver/DriverInvoker.h"

#include <cstdio>
#include <exception>
#include <iostream>
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

void WriteErrorLine(const std::string& text) {
  std::fputs(("Error: " + text + "\n").c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

void DriverErrorHandler(void* source, const char* message, std::int32_t code) {
  const std::string text = message != nullptr ? message : "";
  if (source == nullptr) {
    // Not tied to a client (an allocation failure): the process cannot go on
    // safely.
    Platform::ShowFatalMessage(text);
    Platform::ExitImmediately(1);
  }
  // A failure of one client's connection ends that client only: the network
  // library returns its failure value and the driver accepts the next client.
  // The library reports a connection failure with the Connection itself as
  // the source.
  auto* failed = static_cast<Network::Connection*>(source);
  if (code == Network::kReceiveFailedCode && Platform::IsTimeoutError(failed->LastSocketError())) {
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
  return ListenNewConnection();
}

bool DriverInvoker::Tick() {
  bool served = false;
  try {
    served = connection != nullptr && connection->ReceiveWithHandlers(kServeWindowMs);
  } catch (const ByteBufferException& e) {
    WriteErrorLine("malformed request body (needed " + std::to_string(e.length) +
                   " bytes at offset " + std::to_string(e.endPosition - e.length) + " of " +
                   std::to_string(e.bufferSize) + "); client dropped");
  } catch (const std::exception& e) {
    WriteErrorLine(std::string("request failed: ") + e.what() + "; client dropped");
  } catch (...) {
    WriteErrorLine("request failed; client dropped");
  }
  if (!served) {
    if (connection != nullptr && connection->LastDropReason() == Network::DropReason::Stalled) {
      WriteErrorLine("a frame stopped arriving for " +
                     std::to_string(connection->FrameStallLimit() / 1000) +
                     " s (stalled client); client dropped");
    }
    while (!ListenNewConnection()) Platform::SleepMs(kListenRetryPauseMs);
  }
  return true;
}

bool DriverInvoker::ListenNewConnection() {
  delete connection;
  connection = nullptr;
  connection = Network::AcceptConnection(Protocol::kPort);
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
