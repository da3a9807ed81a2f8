// The two connect requests: the device's connect operation runs on a worker
// thread while the handler waits for it with the client's time-out.
#include <atomic>
#include <cstring>
#include <memory>

#include "driver/DriverInvoker.h"
#include "messages/Protocol.h"
#include "platform/Event.h"
#include "platform/Time.h"

namespace {

constexpr char kUsbEventName[] = "VantorelDevice_Connected";
constexpr char kNetworkEventName[] = "VantorelDevice_NetConnected";
constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;

// What the worker needs and what it leaves behind. Shared between the waiting
// handler and the worker: a worker that outlives its time-out keeps the block
// alive, writes into it and nobody reads it. The worker is never ended
// forcibly, since it could hold a lock of the device module.
struct ThreadArgs {
  Vexil::Device_Cpp::DeviceInterface* device = nullptr;
  std::shared_ptr<Platform::Event> hEvent;
  std::atomic<std::int32_t> result{0};
  std::uint8_t address[4] = {};
  std::atomic<bool> finished{false};
};

}  // namespace

void DriverInvoker::UsbConnect(std::uint32_t timeoutMs) {
  RunConnect(kUsbEventName, false, nullptr, timeoutMs);
}

void DriverInvoker::NetworkConnect(const std::uint8_t* address, std::uint32_t timeoutMs) {
  RunConnect(kNetworkEventName, true, address, timeoutMs);
}

void DriverInvoker::RunConnect(const char* eventName, bool network, const std::uint8_t* address,
                               std::uint32_t timeoutMs) {
  std::shared_ptr<Platform::Event> hEvent = Platform::Event::Create(eventName);
  // Sends the code under id 1 (both connect requests) and then closes the
  // event; called exactly once per request.
  auto AnswerAndReturnLambda = [this, &hEvent](std::int32_t code) {
    AnswerCode(Protocol::kUsbConnect, code);
    hEvent.reset();
  };

  auto args = std::make_shared<ThreadArgs>();
  args->device = device;
  args->hEvent = hEvent;
  if (network && address != nullptr) std::memcpy(args->address, address, sizeof args->address);

  const bool started = hEvent != nullptr && device != nullptr && startWorker([args, network] {
                         const std::int32_t code = network
                                                       ? args->device->ConnectNetwork(args->address)
                                                       : args->device->ConnectUsb(0);
                         args->result.store(code);
                         args->finished.store(true);
                         args->hEvent->Set();
                       });
  if (!started) {
    deviceConnected = false;
    AnswerAndReturnLambda(DeviceNotConnectedCode);
    return;
  }

  // The event has a system-wide name, so a worker abandoned by an earlier
  // request can signal it too; only the own worker's `finished` counts.
  const std::uint64_t start = Platform::TickCountMs();
  bool done = false;
  for (;;) {
    std::uint32_t remaining = kNoLimit;
    if (timeoutMs != kNoLimit) {
      const std::uint64_t waited = Platform::TickCountMs() - start;
      remaining = waited >= timeoutMs ? 0 : static_cast<std::uint32_t>(timeoutMs - waited);
    }
    const Platform::EventWait wait = hEvent->Wait(remaining);
    if (args->finished.load()) {
      done = true;
      break;
    }
    if (wait != Platform::EventWait::Signalled || remaining == 0) break;
    Platform::SleepMs(staleSignalPollMs);
  }

  if (!done) {
    deviceConnected = false;
    AnswerAndReturnLambda(DeviceNotConnectedCode);
    return;
  }
  const std::int32_t result = args->result.load();
  deviceConnected = result == 0;
  AnswerAndReturnLambda(result);
}
