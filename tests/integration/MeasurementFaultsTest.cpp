// Measurement requests while the virtual instrument misbehaves on purpose
// (VANTOREL_SIM_FAULTS): slow or failing readiness, failing sample reads,
// contents the driver has no place for. Each case runs its own driver.
#include <gtest/gtest.h>

#include "integration/TestSupport.h"

namespace integration {
namespace {

class MeasurementFaults : public ::testing::Test {
 protected:
  // Starts a driver whose instrument has `faults`, connects the client and
  // prepares the measured job "F" (make "Teal", `samples` samples).
  void StartWith(const std::string& faults, std::uint32_t samples = 1) {
    Environment env = FastInstrument();
    if (!faults.empty()) env = With(env, "VANTOREL_SIM_FAULTS", faults);
    ASSERT_TRUE(driver.StartAndWait(env)) << driver.Failure();
    ASSERT_TRUE(ConnectClient(client));
    ASSERT_TRUE(PrepareMeasuredJob(client, "F", "Teal", samples));
  }
  void TearDown() override {
    client.Close();
    if (driver.Pid() > 0) {
      EXPECT_TRUE(driver.Running()) << "the driver ended\n" << driver.Describe();
      EXPECT_EQ(driver.SanitizerFindings(), "");
    }
  }
  // Sample 0 of job F with no fault injected, from a driver of its own.
  VantorelMeasurementsFull Reference() {
    DriverProcess reference;
    vantorel::Client referenceClient;
    EXPECT_TRUE(reference.StartAndWait(FastInstrument())) << reference.Failure();
    EXPECT_TRUE(ConnectClient(referenceClient));
    EXPECT_TRUE(PrepareMeasuredJob(referenceClient, "F", "Teal", 1));
    vantorel::MeasurementAnswer answer = referenceClient.GetSample("F", 0);
    EXPECT_TRUE(answer.status.Ok()) << answer.status.text;
    return std::move(answer.data);
  }

  DriverProcess driver;
  vantorel::Client client;
};

TEST_F(MeasurementFaults, InstrumentReadyOnTheFifthPollIsMeasured) {
  StartWith("getstate=notready:5");
  const auto start = std::chrono::steady_clock::now();
  const vantorel::MeasurementAnswer answer = client.GetMeasure("F");
  const std::int64_t elapsed = ElapsedMs(start);
  EXPECT_TRUE(answer.status.Ok()) << answer.status.text;
  EXPECT_EQ(answer.data.measurements.size(), 11u);
  EXPECT_GE(elapsed, 4900) << "one second after each of five polls";
  EXPECT_LT(elapsed, Scaled(9000));
  EXPECT_EQ(client.GetJobs().status.code, 0);
}

TEST_F(MeasurementFaults, InstrumentNeverReadyEndsTheSession) {
  StartWith("getstate=notready:always");
  const auto start = std::chrono::steady_clock::now();
  const vantorel::MeasurementAnswer answer = client.GetMeasure("F");
  const std::int64_t elapsed = ElapsedMs(start);
  EXPECT_EQ(answer.status.failure, vantorel::Failure::None) << answer.status.text;
  EXPECT_EQ(answer.status.code, 99999);
  EXPECT_TRUE(answer.data.measurements.empty() && answer.data.images.empty());
  EXPECT_GE(elapsed, 4900);
  EXPECT_LT(elapsed, Scaled(9000));

  EXPECT_EQ(client.GetJobs().status.code, 99999);
  EXPECT_EQ(client.GetSample("F", 0).status.code, 99999);
  EXPECT_EQ(client.GetMeasure("F").status.code, 99999);
  ASSERT_TRUE(client.ConnectUsb(Scaled(5000)).Ok());
  EXPECT_EQ(client.GetJobs().status.code, 0);
}

TEST_F(MeasurementFaults, FailingStateReadEndsTheSessionWithItsCode) {
  StartWith("getstate=fail:4321");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.GetMeasure("F").status.code, 4321);
  EXPECT_LT(ElapsedMs(start), Scaled(2000)) << "no readiness wait after a failed poll";
  EXPECT_EQ(client.GetJobs().status.code, 99999);
}

TEST_F(MeasurementFaults, FailingSampleReadKeepsTheSession) {
  StartWith("getsample=fail:4322");
  const vantorel::MeasurementAnswer sample = client.GetSample("F", 0);
  EXPECT_EQ(sample.status.code, 4322);
  EXPECT_TRUE(sample.data.measurements.empty() && sample.data.images.empty());
  EXPECT_EQ(client.GetJobs().status.code, 0);
  EXPECT_EQ(client.GetMeasure("F").status.code, 4322);
  EXPECT_EQ(client.GetJobs().status.code, 0);
}

TEST_F(MeasurementFaults, UnlistedGeometryIsSkippedWithAWarning) {
  const VantorelMeasurementsFull reference = Reference();
  ASSERT_EQ(reference.measurements.size(), 11u);
  StartWith("geometry=unlisted");
  const vantorel::MeasurementAnswer answer = client.GetSample("F", 0);
  ASSERT_TRUE(answer.status.Ok()) << answer.status.text;
  // The extra entry "r15as15 " must not overwrite the real r15as15.
  EXPECT_TRUE(answer.data.measurements.at(R15As15) == reference.measurements.at(R15As15));
  EXPECT_TRUE(answer.data == reference);
  const std::string out = driver.Stdout();
  EXPECT_NE(out.find("Warning: "), std::string::npos) << driver.Describe();
  EXPECT_NE(out.find("\"r15as15 \""), std::string::npos) << driver.Describe();
}

TEST_F(MeasurementFaults, EntryWithoutColourItemIsSkipped) {
  const VantorelMeasurementsFull reference = Reference();
  StartWith("contents=short");
  const vantorel::MeasurementAnswer answer = client.GetSample("F", 0);
  ASSERT_TRUE(answer.status.Ok()) << answer.status.text;
  EXPECT_EQ(answer.data.measurements.size(), 10u);
  EXPECT_EQ(answer.data.measurements.count(R45As110), 0u);
  for (const auto& [angle, record] : answer.data.measurements) {
    EXPECT_TRUE(record == reference.measurements.at(angle)) << "geometry " << angle;
  }
  EXPECT_TRUE(answer.data.images == reference.images);
  EXPECT_NE(driver.Stdout().find("Warning: "), std::string::npos) << driver.Describe();
}

}  // namespace
}  // namespace integration
