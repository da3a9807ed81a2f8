#include <gtest/gtest.h>

#include <chrono>

#include "DriverTestSupport.h"
#include "messages/Protocol.h"

namespace {

std::vector<std::uint8_t> UsbBody(std::uint32_t timeoutMs) {
  MsgUsbConnect msg{0xDEADBEEF, timeoutMs};  // the first field is not looked at
  std::vector<std::uint8_t> body(sizeof msg);
  std::memcpy(body.data(), &msg, sizeof msg);
  return body;
}

std::vector<std::uint8_t> NetworkBody(std::array<std::uint8_t, 4> address,
                                      std::uint32_t timeoutMs) {
  MsgNetworkConnect msg{};
  std::memcpy(msg.address, address.data(), 4);
  msg.timeoutMs = timeoutMs;
  std::vector<std::uint8_t> body(sizeof msg);
  std::memcpy(body.data(), &msg, sizeof msg);
  return body;
}

// The limit of requests whose worker answers at once: generous, since a
// thread of a 32-bit program under Wine can start seconds late while the
// wine server of a new prefix is busy; the answer comes as soon as the
// worker ends, so a long limit costs nothing when all is well.
constexpr std::uint32_t kPromptLimitMs = 15000;

TEST(ConnectRequests, SuccessFailureAndReplacementOfTheSession) {
  DriverHarness h;
  h.AddRaw(Protocol::kUsbConnect, UsbBody(kPromptLimitMs));
  h.AddRaw(Protocol::kUsbConnect, UsbBody(0xFFFFFFFFu));  // no limit
  auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].type, 1u);
  EXPECT_EQ(frames[0].size, 4u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), 0);
  EXPECT_EQ(DriverHarness::Code(frames[1]), 0);
  EXPECT_TRUE(h.driver.deviceConnected);
  EXPECT_EQ(h.device.Calls()[0].args, std::vector<std::string>{"0"});

  // A refused connect closes the session and answers the device's code.
  h.device.connectUsbResult = 4711;
  h.Reconnect();
  h.AddRaw(Protocol::kUsbConnect, UsbBody(kPromptLimitMs));
  frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), 4711);
  EXPECT_FALSE(h.driver.deviceConnected);
}

TEST(ConnectRequests, WorkerThatCannotStartAnswersNotConnected) {
  DriverHarness h;
  h.driver.deviceConnected = true;
  h.driver.startWorker = [](std::function<void()>) { return false; };
  h.AddRaw(Protocol::kUsbConnect, UsbBody(kPromptLimitMs));
  const auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), DeviceNotConnectedCode);
  EXPECT_FALSE(h.driver.deviceConnected);
  EXPECT_EQ(h.device.CountCalls("ConnectUsb"), 0);
}

TEST(ConnectRequests, NetworkConnectPassesAddressAndIsAnsweredUnderIdOne) {
  DriverHarness h;
  h.AddRaw(Protocol::kNetworkConnect, NetworkBody({192, 168, 7, 21}, kPromptLimitMs));
  auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, Protocol::kUsbConnect);
  EXPECT_EQ(DriverHarness::Code(frames[0]), 0);
  EXPECT_TRUE(h.driver.deviceConnected);
  const auto calls = h.device.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "ConnectNetwork");
  EXPECT_EQ(calls[0].args[0], "192.168.7.21");
}

TEST(ConnectRequests, TimeoutAnswersNotConnectedEvenWhenTheConnectLaterSucceeds) {
  DriverHarness h;
  h.driver.deviceConnected = true;  // a time-out ends an earlier session too
  h.device.connectDelayMs = 300;
  const auto start = std::chrono::steady_clock::now();
  h.AddRaw(Protocol::kUsbConnect, UsbBody(50));
  auto frames = h.Serve();
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), DeviceNotConnectedCode);
  EXPECT_FALSE(h.driver.deviceConnected);
  EXPECT_LT(waited, std::chrono::milliseconds(280));

  // The abandoned worker finishes on its own; nothing it does reaches the
  // driver.
  ASSERT_TRUE(h.device.WaitForConnectsStarted(1, std::chrono::seconds(5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_FALSE(h.driver.deviceConnected);

  // Time-out 0 against a slow connect answers at once.
  h.Reconnect();
  h.AddRaw(Protocol::kNetworkConnect, NetworkBody({10, 0, 0, 1}, 0));
  frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, 1u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), DeviceNotConnectedCode);
  // The fake may only go once the abandoned worker is inside it (its
  // destructor then waits for the worker to leave).
  EXPECT_TRUE(h.device.WaitForConnectsStarted(2, std::chrono::seconds(5)));
}

TEST(ConnectRequests, SignalOfAnAbandonedWorkerDoesNotAnswerTheNextRequest) {
  DriverHarness h;
  // First connect times out while its worker is still inside the device.
  h.device.connectDelayMs = 200;
  h.AddRaw(Protocol::kUsbConnect, UsbBody(10));
  auto frames = h.Serve();
  ASSERT_EQ(DriverHarness::Code(frames.at(0)), DeviceNotConnectedCode);

  // The second connect shares the event's name; the first worker signals it
  // while the second still runs, and the answer must wait for its own result.
  h.device.connectDelayMs = 400;
  h.device.connectUsbResult = 77;
  h.Reconnect();
  h.AddRaw(Protocol::kUsbConnect, UsbBody(3000));
  frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), 77);
  EXPECT_FALSE(h.driver.deviceConnected);
}

}  // namespace
