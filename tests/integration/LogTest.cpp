// The requests that need no job: the instrument log, user messages and
// terminate.
#include <gtest/gtest.h>

#include "integration/TestSupport.h"

namespace integration {
namespace {

class Log : public SharedDriver<Log> {
 public:
  static Environment Env() { return FastInstrument(); }
};

TEST_F(Log, UserMessageReachesTheLogWithoutASession) {
  // A refused connect: no session at the driver or the instrument.
  ASSERT_EQ(client.ConnectNetwork({0, 0, 0, 0}, Scaled(5000)).code, 3003);
  ASSERT_EQ(client.GetJobs().status.code, 99999);

  const vantorel::LogAnswer before = client.GetLog();
  ASSERT_TRUE(before.status.Ok()) << before.status.text;
  EXPECT_NE(before.text.find("virtual instrument started"), std::string::npos);
  EXPECT_EQ(before.text.find('\0'), std::string::npos);

  const std::u32string message = U"calibrate tile 7 \u2713 \U0001F600";
  EXPECT_TRUE(client.SendUserMessage(message).Ok());
  const vantorel::LogAnswer after = client.GetLog();
  ASSERT_TRUE(after.status.Ok()) << after.status.text;
  EXPECT_NE(after.text.find("user message: calibrate tile 7 \xE2\x9C\x93 \xF0\x9F\x98\x80"),
            std::string::npos)
      << after.text;
  EXPECT_GT(after.text.size(), before.text.size());
}

TEST(Terminate, ClosesTheConnectionAndEndsWithExitCodeZero) {
  DriverProcess driver;
  ASSERT_TRUE(driver.StartAndWait(FastInstrument())) << driver.Failure();
  vantorel::Client client;
  ASSERT_TRUE(ConnectClient(client));
  ASSERT_TRUE(client.ConnectUsb(Scaled(5000)).Ok());
  // Succeeds only when the connection closes without a single byte.
  const vantorel::Status status = client.Terminate(Scaled(5000));
  EXPECT_TRUE(status.Ok()) << status.text;
  const std::optional<int> code = driver.WaitExit(Scaled(10000));
  ASSERT_TRUE(code.has_value()) << "the driver kept running\n" << driver.Describe();
  EXPECT_EQ(*code, 0) << driver.Describe();
  EXPECT_EQ(driver.SanitizerFindings(), "");
}

}  // namespace
}  // namespace integration
