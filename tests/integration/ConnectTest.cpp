// The two connect requests against the virtual instrument: time-outs, late
// and failed connects, and what they leave of the device session.
#include <gtest/gtest.h>

#include <thread>

#include "integration/TestSupport.h"

namespace integration {
namespace {

constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;
// The instrument's connect takes this long in ConnectTiming.
constexpr std::uint32_t kSlowConnectMs = 800;

class ConnectTiming : public SharedDriver<ConnectTiming> {
 public:
  static Environment Env() {
    return With(FastInstrument(), "VANTOREL_SIM_CONNECT_MS", std::to_string(kSlowConnectMs));
  }
};

TEST_F(ConnectTiming, ZeroTimeoutAnswersAtOnceAndLateSuccessLeavesSessionClosed) {
  const auto start = std::chrono::steady_clock::now();
  const vantorel::Status status = client.ConnectUsb(0);
  EXPECT_EQ(status.failure, vantorel::Failure::None) << status.text;
  EXPECT_EQ(status.code, 99999);
  EXPECT_LT(ElapsedMs(start), kSlowConnectMs - 100) << "the driver waited for the instrument";

  const vantorel::JobsAnswer jobs = client.GetJobs();
  EXPECT_EQ(jobs.status.code, 99999);
  EXPECT_TRUE(jobs.jobs.empty());

  // The abandoned connect completes at the instrument: a run request, which
  // reaches the instrument without a session, then reports an unknown job
  // (3002) instead of "not connected" (3001). The driver's session stays
  // closed all the same.
  std::int32_t runCode = 0;
  const auto waitStart = std::chrono::steady_clock::now();
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    runCode = client.DoJob("no such job").code;
  } while (runCode == 3001 && ElapsedMs(waitStart) < Scaled(5000));
  EXPECT_EQ(runCode, 3002);
  EXPECT_EQ(client.GetJobs().status.code, 99999);
}

TEST_F(ConnectTiming, UnlimitedTimeoutWaitsForTheConnect) {
  for (int attempt = 0; attempt < 2; ++attempt) {  // a second success keeps the session
    const auto start = std::chrono::steady_clock::now();
    const vantorel::Status status = client.ConnectUsb(kNoLimit);
    EXPECT_TRUE(status.Ok()) << status.text;
    EXPECT_GE(ElapsedMs(start), kSlowConnectMs - 50);
    EXPECT_EQ(client.GetJobs().status.code, 0);
  }
}

TEST_F(ConnectTiming, NetworkConnectAndFailedConnectAfterSuccess) {
  const vantorel::Status connected = client.ConnectNetwork({192, 168, 7, 20}, Scaled(5000));
  ASSERT_TRUE(connected.Ok()) << connected.text;
  EXPECT_EQ(client.GetJobs().status.code, 0);

  // The instrument refuses 0.0.0.0 with its own code; the session closes.
  const vantorel::Status refused = client.ConnectNetwork({0, 0, 0, 0}, Scaled(5000));
  EXPECT_EQ(refused.failure, vantorel::Failure::None) << refused.text;
  EXPECT_EQ(refused.code, 3003);
  EXPECT_EQ(client.GetJobs().status.code, 99999);
  EXPECT_EQ(client.AddJob("after failure", "m", 1).code, 99999);

  EXPECT_TRUE(client.ConnectUsb(Scaled(5000)).Ok());
  EXPECT_EQ(client.GetJobs().status.code, 0);
}

TEST(ConnectFaults, HangingConnectTimesOutAndDriverKeepsServing) {
  DriverProcess driver;
  ASSERT_TRUE(driver.StartAndWait(With(FastInstrument(), "VANTOREL_SIM_FAULTS", "connect=hang")))
      << driver.Failure();
  vantorel::Client client;
  ASSERT_TRUE(ConnectClient(client));

  const std::uint32_t timeoutMs = 300;
  const auto start = std::chrono::steady_clock::now();
  const vantorel::Status usb = client.ConnectUsb(timeoutMs);
  const std::int64_t elapsed = ElapsedMs(start);
  EXPECT_EQ(usb.failure, vantorel::Failure::None) << usb.text;
  EXPECT_EQ(usb.code, 99999);
  EXPECT_GE(elapsed, timeoutMs - 20);
  EXPECT_LT(elapsed, Scaled(3000));

  const vantorel::Status network = client.ConnectNetwork({10, 0, 0, 1}, timeoutMs);
  EXPECT_EQ(network.failure, vantorel::Failure::None) << network.text;
  EXPECT_EQ(network.code, 99999);

  EXPECT_EQ(client.GetJobs().status.code, 99999);
  const vantorel::LogAnswer log = client.GetLog();
  EXPECT_TRUE(log.status.Ok());
  EXPECT_NE(log.text.find("connect hangs"), std::string::npos);
  EXPECT_TRUE(driver.Running()) << driver.Describe();
  EXPECT_EQ(driver.SanitizerFindings(), "");
}

TEST(ConnectFaults, RefusedConnectAnswersTheInstrumentsCode) {
  DriverProcess driver;
  ASSERT_TRUE(
      driver.StartAndWait(With(FastInstrument(), "VANTOREL_SIM_FAULTS", "connect=fail:4711")))
      << driver.Failure();
  vantorel::Client client;
  ASSERT_TRUE(ConnectClient(client));

  EXPECT_EQ(client.ConnectUsb(Scaled(5000)).code, 4711);
  EXPECT_EQ(client.GetJobs().status.code, 99999);
  const vantorel::Status network = client.ConnectNetwork({10, 0, 0, 1}, Scaled(5000));
  EXPECT_EQ(network.failure, vantorel::Failure::None) << network.text;
  EXPECT_EQ(network.code, 4711);
  EXPECT_EQ(client.GetJobs().status.code, 99999);
  EXPECT_EQ(driver.SanitizerFindings(), "");
}

}  // namespace
}  // namespace integration
