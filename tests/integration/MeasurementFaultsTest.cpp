// Measurement requests while the virtual instrument misbehaves on purpose
// (VANTOREL_SIM_FAULTS): slow or failing readiness, failing sample reads,
// contents the driver has no place for, duplicated geometries, failing image
// corrections. Each case runs its own driver.
#include <gtest/gtest.h>

#include <functional>

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

// One row per device behaviour: the fault word that provokes it and what the
// driver must answer, compared with what a driver whose instrument has no
// fault answers for the same two-sample job F.
TEST_F(MeasurementFaults, EachDeviceBehaviourGetsItsAnswer) {
  VantorelMeasurementsFull sample0, measure;  // from the fault-free driver
  {
    DriverProcess reference;
    vantorel::Client referenceClient;
    ASSERT_TRUE(reference.StartAndWait(FastInstrument())) << reference.Failure();
    ASSERT_TRUE(ConnectClient(referenceClient));
    ASSERT_TRUE(PrepareMeasuredJob(referenceClient, "F", "Teal", 2));
    vantorel::MeasurementAnswer first = referenceClient.GetSample("F", 0);
    vantorel::MeasurementAnswer all = referenceClient.GetMeasure("F");
    ASSERT_TRUE(first.status.Ok() && all.status.Ok()) << first.status.text << all.status.text;
    sample0 = std::move(first.data);
    measure = std::move(all.data);
  }
  ASSERT_EQ(sample0.measurements.size(), 11u);
  ASSERT_FALSE(sample0.images.empty());
  // The combined result keeps sample 0's images; true when `data` holds them
  // as the instrument delivered them, not corrected.
  const auto uncorrectedImages = [&](const VantorelMeasurementsFull& data) {
    if (data.images.size() != sample0.images.size()) return false;
    for (const auto& [angle, image] : sample0.images) {
      const auto found = data.images.find(angle);
      if (found == data.images.end() || found->second.exr != image.exr) return false;
    }
    return true;
  };
  using Check = std::function<void(vantorel::Client&, DriverProcess&)>;
  const std::pair<const char*, Check> cases[] = {
      {"getsample=fail-at:1:4323",
       [&](vantorel::Client& c, DriverProcess&) {
         EXPECT_TRUE(c.GetSample("F", 0).data == sample0);
         const vantorel::MeasurementAnswer late = c.GetSample("F", 1);
         EXPECT_EQ(late.status.code, 4323);
         EXPECT_TRUE(late.data == VantorelMeasurementsFull{});
         const vantorel::MeasurementAnswer all = c.GetMeasure("F");
         EXPECT_EQ(all.status.code, 4323);
         EXPECT_TRUE(all.data == VantorelMeasurementsFull{});
         EXPECT_EQ(c.GetJobs().status.code, 0) << "the session stays";
         // F's sample 0 reached the glue before the failure: the next
         // result must not contain it.
         ASSERT_TRUE(PrepareMeasuredJob(c, "G", "Teal", 1));
         const vantorel::MeasurementAnswer g = c.GetMeasure("G");
         ASSERT_TRUE(g.status.Ok()) << g.status.text;
         EXPECT_TRUE(g.data.measurements == c.GetSample("G", 0).data.measurements);
       }},
      {"geometry=duplicate",
       [&](vantorel::Client& c, DriverProcess&) {
         const vantorel::MeasurementAnswer answer = c.GetSample("F", 0);
         ASSERT_TRUE(answer.status.Ok()) << answer.status.text;
         VantorelMeasurementsFull expected = sample0;
         // The second r15as45 entry, 12th in the list, carries r45as110's values.
         VantorelMeasurements& later = expected.measurements.at(R15As45);
         later.index = 11;
         later.spectrum = sample0.measurements.at(R45As110).spectrum;
         later.lab = sample0.measurements.at(R45As110).lab;
         EXPECT_TRUE(answer.data == expected);
       }},
      {"contents=images-only",
       [&](vantorel::Client& c, DriverProcess& d) {
         const vantorel::MeasurementAnswer one = c.GetSample("F", 0);
         ASSERT_TRUE(one.status.Ok()) << one.status.text;
         EXPECT_TRUE(one.data.measurements.empty());
         EXPECT_TRUE(one.data.images == sample0.images);
         const vantorel::MeasurementAnswer all = c.GetMeasure("F");
         ASSERT_TRUE(all.status.Ok()) << all.status.text;
         EXPECT_TRUE(all.data.measurements.empty());
         EXPECT_TRUE(uncorrectedImages(all.data));
         EXPECT_NE(d.Stdout().find("has no spectrum; left uncorrected"), std::string::npos);
       }},
      {"getstate=fail-first:4324",
       [&](vantorel::Client& c, DriverProcess&) {
         const vantorel::MeasurementAnswer all = c.GetMeasure("F");
         EXPECT_EQ(all.status.code, 0);
         EXPECT_TRUE(all.data == measure);
         EXPECT_EQ(c.GetJobs().status.code, 0);
       }},
      {"correct=fail:4325",
       [&](vantorel::Client& c, DriverProcess& d) {
         const vantorel::MeasurementAnswer all = c.GetMeasure("F");
         EXPECT_EQ(all.status.code, 0);
         EXPECT_TRUE(all.data.measurements == measure.measurements);
         EXPECT_TRUE(uncorrectedImages(all.data));
         EXPECT_NE(d.Stdout().find("returned code 4325 and no image; left uncorrected"),
                   std::string::npos);
       }},
      {"correct=warn:4326",
       [&](vantorel::Client& c, DriverProcess& d) {
         const vantorel::MeasurementAnswer all = c.GetMeasure("F");
         EXPECT_EQ(all.status.code, 0);
         EXPECT_TRUE(all.data == measure);
         EXPECT_NE(d.Stdout().find("returned code 4326; its output is used"), std::string::npos);
       }},
  };
  for (const auto& [faults, check] : cases) {
    SCOPED_TRACE(faults);
    DriverProcess faulty;
    vantorel::Client c;
    ASSERT_TRUE(faulty.StartAndWait(With(FastInstrument(), "VANTOREL_SIM_FAULTS", faults)))
        << faulty.Failure();
    ASSERT_TRUE(ConnectClient(c));
    ASSERT_TRUE(PrepareMeasuredJob(c, "F", "Teal", 2));
    check(c, faulty);
    c.Close();
    EXPECT_TRUE(faulty.Running()) << faulty.Describe();
    EXPECT_EQ(faulty.SanitizerFindings(), "");
    if (HasFailure()) std::fprintf(stderr, "%s", faulty.Describe().c_str());
  }
}

}  // namespace
}  // namespace integration
