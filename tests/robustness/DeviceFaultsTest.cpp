// Instrument faults (VANTOREL_SIM_FAULTS), each repeated many times against
// one driver: every answer follows the driver's rules each time, and the
// driver keeps serving fresh clients throughout.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "integration/TestSupport.h"
#include "robustness/Footprint.h"

namespace robustness {
namespace {

using integration::ConnectClient;
using integration::DriverProcess;
using integration::ElapsedMs;
using integration::Scaled;

class DeviceFaultsRepeated : public ::testing::Test {
 protected:
  void Start(const std::string& faults) {
    ASSERT_TRUE(driver.StartAndWait(
        integration::With(integration::FastInstrument(), "VANTOREL_SIM_FAULTS", faults)))
        << driver.Failure();
    ASSERT_TRUE(ConnectClient(client));
  }
  // Replaces the client by a fresh one.
  void Reconnect() {
    client.Close();
    ASSERT_TRUE(ConnectClient(client, Scaled(5000)));
  }
  void TearDown() override {
    client.Close();
    if (driver.Pid() > 0) {
      EXPECT_TRUE(driver.Running()) << driver.Describe();
    }
  }

  DriverProcess driver;
  vantorel::Client client;
};

TEST_F(DeviceFaultsRepeated, HangingConnectTimesOutEveryTimeWithinItsLimit) {
  Start("connect=hang");
  constexpr int kAttempts = 50;
  constexpr std::int64_t kMarginMs = 250;
  std::int64_t worstLateness = 0;
  for (int i = 0; i < kAttempts; ++i) {
    const std::uint32_t timeoutMs = 20 + 20 * static_cast<std::uint32_t>(i % 5);
    const auto start = std::chrono::steady_clock::now();
    const vantorel::Status status =
        i % 2 == 0 ? client.ConnectUsb(timeoutMs) : client.ConnectNetwork({10, 0, 0, 1}, timeoutMs);
    const std::int64_t elapsed = ElapsedMs(start);
    ASSERT_EQ(status.failure, vantorel::Failure::None) << "attempt " << i << ": " << status.text;
    EXPECT_EQ(status.code, 99999) << "attempt " << i;
    EXPECT_GE(elapsed + 2, static_cast<std::int64_t>(timeoutMs)) << "attempt " << i;
    EXPECT_LT(elapsed, static_cast<std::int64_t>(timeoutMs) + Scaled(kMarginMs)) << "attempt " << i;
    worstLateness = std::max(worstLateness, elapsed - static_cast<std::int64_t>(timeoutMs));
    if (i % 10 == 9) {
      EXPECT_EQ(client.GetJobs().status.code, 99999);
      EXPECT_TRUE(client.GetLog().status.Ok());
      Reconnect();
    }
  }
  const std::optional<Footprint> footprint = ReadFootprint(driver.Pid());
  ASSERT_TRUE(footprint.has_value());
  // Every abandoned connect worker is still inside the hanging instrument.
  std::printf("%d hanging connects: worst lateness %lld ms; driver threads %d, fds %d\n", kAttempts,
              static_cast<long long>(worstLateness), footprint->threads, footprint->descriptors);
  EXPECT_EQ(client.GetJobs().status.code, 99999);
  EXPECT_EQ(client.DoJob("absent").code, 3001) << "the instrument never connected";
}

TEST_F(DeviceFaultsRepeated, FailingStateReadEndsEverySessionAndAConnectRestoresIt) {
  Start("getstate=fail:4321");
  ASSERT_TRUE(integration::PrepareMeasuredJob(client, "F", "Teal", 1));
  for (int i = 0; i < 10; ++i) {
    const vantorel::MeasurementAnswer answer = client.GetMeasure("F");
    EXPECT_EQ(answer.status.code, 4321) << "round " << i << ": " << answer.status.text;
    EXPECT_TRUE(answer.data.measurements.empty() && answer.data.images.empty());
    EXPECT_EQ(client.GetJobs().status.code, 99999) << "round " << i;
    EXPECT_EQ(client.GetSample("F", 0).status.code, 99999) << "round " << i;
    if (i % 3 == 2) Reconnect();
    ASSERT_TRUE(client.ConnectUsb(Scaled(5000)).Ok()) << "round " << i;
    EXPECT_EQ(client.GetJobs().status.code, 0) << "round " << i;
    EXPECT_TRUE(client.GetSample("F", 0).status.Ok()) << "sample reads need no state read";
  }
}

TEST_F(DeviceFaultsRepeated, NeverReadyInstrumentEndsTheSessionEachTime) {
  Start("getstate=notready:always");
  ASSERT_TRUE(integration::PrepareMeasuredJob(client, "F", "Teal", 1));
  for (int i = 0; i < 2; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const vantorel::MeasurementAnswer answer = client.GetMeasure("F");
    const std::int64_t elapsed = ElapsedMs(start);
    EXPECT_EQ(answer.status.code, 99999) << answer.status.text;
    EXPECT_GE(elapsed, 4900);
    EXPECT_LT(elapsed, Scaled(9000));
    EXPECT_EQ(client.GetJobs().status.code, 99999);
    Reconnect();
    ASSERT_TRUE(client.ConnectUsb(Scaled(5000)).Ok());
  }
}

TEST_F(DeviceFaultsRepeated, FailingSampleReadKeepsTheSessionEveryTime) {
  Start("getsample=fail:4322");
  ASSERT_TRUE(integration::PrepareMeasuredJob(client, "F", "Teal", 2));
  for (int i = 0; i < 20; ++i) {
    const vantorel::MeasurementAnswer answer =
        i % 2 == 0 ? client.GetSample("F", i % 4 == 0 ? 0 : 1) : client.GetMeasure("F");
    EXPECT_EQ(answer.status.code, 4322) << "round " << i << ": " << answer.status.text;
    EXPECT_TRUE(answer.data.measurements.empty() && answer.data.images.empty());
    const vantorel::JobsAnswer jobs = client.GetJobs();
    EXPECT_EQ(jobs.status.code, 0) << "round " << i;
    EXPECT_EQ(jobs.jobs.size(), 1u);
    if (i % 5 == 4) Reconnect();
  }
}

TEST_F(DeviceFaultsRepeated, UnlistedGeometryNeverOverwritesTheRealOne) {
  Start("geometry=unlisted");
  ASSERT_TRUE(integration::PrepareMeasuredJob(client, "F", "Teal", 2));
  const vantorel::MeasurementAnswer reference = client.GetSample("F", 0);
  ASSERT_TRUE(reference.status.Ok()) << reference.status.text;
  ASSERT_EQ(reference.data.measurements.size(), 11u);
  // The extra entry carries r15as15's values under another name; only the
  // position tells the two apart.
  EXPECT_EQ(reference.data.measurements.at(R15As15).index, 2);
  const vantorel::MeasurementAnswer measureReference = client.GetMeasure("F");
  ASSERT_TRUE(measureReference.status.Ok()) << measureReference.status.text;
  EXPECT_EQ(measureReference.data.measurements.size(), 11u);
  for (int i = 0; i < 20; ++i) {
    if (i % 2 == 0) {
      const vantorel::MeasurementAnswer again = client.GetSample("F", 0);
      ASSERT_TRUE(again.status.Ok()) << again.status.text;
      EXPECT_TRUE(again.data == reference.data) << "round " << i;
    } else {
      const vantorel::MeasurementAnswer again = client.GetMeasure("F");
      ASSERT_TRUE(again.status.Ok()) << again.status.text;
      EXPECT_TRUE(again.data == measureReference.data) << "round " << i;
    }
    if (i % 5 == 4) Reconnect();
  }
  EXPECT_NE(driver.Stdout().find("\"r15as15 \""), std::string::npos) << driver.Describe();
}

TEST_F(DeviceFaultsRepeated, EntryWithoutColourIsSkippedEveryTime) {
  Start("contents=short");
  ASSERT_TRUE(integration::PrepareMeasuredJob(client, "F", "Teal", 2));
  for (int i = 0; i < 20; ++i) {
    const vantorel::MeasurementAnswer answer =
        i % 2 == 0 ? client.GetSample("F", (i / 2) % 2) : client.GetMeasure("F");
    ASSERT_TRUE(answer.status.Ok()) << "round " << i << ": " << answer.status.text;
    EXPECT_EQ(answer.data.measurements.size(), 10u) << "round " << i;
    EXPECT_EQ(answer.data.measurements.count(R45As110), 0u) << "round " << i;
    EXPECT_EQ(answer.data.images.size(), 6u) << "round " << i;
    if (i % 5 == 4) Reconnect();
  }
  EXPECT_EQ(client.GetJobs().status.code, 0);
}

}  // namespace
}  // namespace robustness
