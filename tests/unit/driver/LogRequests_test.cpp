#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "messages/Protocol.h"
#include "network/ErrorReporting.h"

namespace {

const std::vector<std::uint8_t> kOneByte = {0};

TEST(LogRequests, LogTextCarriesOneTerminatingZeroAndTheDeviceCode) {
  DriverHarness h;
  h.AddRaw(Protocol::kGetLog, kOneByte);
  h.device.log = {'o', 'k'};
  auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, 12u);
  EXPECT_EQ(frames[0].body, (std::vector<std::uint8_t>{0, 0, 0, 0, 3, 0, 0, 0, 'o', 'k', 0}));

  h.device.log.clear();
  h.device.getLogResult = 3001;
  h.Reconnect();
  h.AddRaw(Protocol::kGetLog, kOneByte);
  frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].body, (std::vector<std::uint8_t>{0xB9, 0x0B, 0, 0, 1, 0, 0, 0, 0}));
}

TEST(LogRequests, UserMessageReachesTheDeviceWithoutASession) {
  DriverHarness h;
  h.device.sendUserMessageResult = 17;
  h.AddSerialized(Protocol::kUserMessage, MsgUserMessage{U"hi ✓"}, &SerializeMsgUserMessage);
  const auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, 11u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), 17);
  EXPECT_EQ(h.device.LastUserMessage(), U"hi ✓");
}

struct TerminateCalled {
  int code;
};
[[noreturn]] void ThrowingExit(int code) { throw TerminateCalled{code}; }

TEST(LogRequests, TerminateClosesTheClientWithoutAnswerAndExitsWithZero) {
  DriverHarness h;
  h.driver.exitProcess = &ThrowingExit;
  try {
    h.driver.Terminate();
    FAIL() << "terminate did not end the process";
  } catch (const TerminateCalled& called) {
    EXPECT_EQ(called.code, 0);
  }
  EXPECT_EQ(h.driver.connection, nullptr);  // deleted, so no answer can follow
  EXPECT_TRUE(h.device.CallNames().empty());
}

TEST(DriverErrorHandler, ConnectionErrorsWriteOneLineAndReturn) {
  FakeConnection connection;
  testing::internal::CaptureStderr();
  DriverErrorHandler(static_cast<Network::Connection*>(&connection),
                     "Connection::Send send return error", 6);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Connection::Send send return error\n");
}

TEST(DriverErrorHandler, AReceiveEndedByKeepaliveSaysSo) {
  const std::string keepalive =
      "Error: Connection::Receive recv return error: the client stopped answering keepalive "
      "probes; client dropped\n";
  const std::string plain = "Error: Connection::Receive recv return error\n";
  const struct {
    int osError;
    const std::string& line;
  } cases[] = {
#if defined(_WIN32)
    {10060, keepalive},  // WSAETIMEDOUT
    {10052, keepalive},  // WSAENETRESET: how Windows ends a connection after its probes
    {10054, plain},      // WSAECONNRESET
#else
    {110, keepalive},  // ETIMEDOUT
    {104, plain},      // ECONNRESET
#endif
  };
  for (const auto& c : cases) {
    FakeConnection connection;
    connection.AddFailure(c.osError);
    std::uint8_t byte = 0;
    testing::internal::CaptureStderr();
    Network::SetErrorHandler(&DriverErrorHandler);
    connection.Receive(&byte, 1, 0);
    Network::SetErrorHandler(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line) << c.osError;
  }
}

}  // namespace
