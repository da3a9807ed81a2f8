#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "messages/Protocol.h"

using Fakes::FakeDevice;

namespace {

MsgGetSample SampleMsg(std::string name, std::int32_t index) {
  MsgGetSample msg;
  msg.name = std::move(name);
  msg.sampleIndex = index;
  return msg;
}

class MeasurementRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    h.driver.deviceConnected = true;
    h.device.jobs = {{"J0", 0, 2004}, {"J1", 2, 2004}};
  }
  MsgAnswerGetSample ServeSample(std::string name, std::int32_t index) {
    h.AddSerialized(Protocol::kGetSample, SampleMsg(std::move(name), index),
                    &SerializeMsgGetSample);
    const auto frames = h.Serve();
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames.at(0).type, Protocol::kGetSample);
    return DriverHarness::Decode(frames.at(0), &SerializeMsgAnswerGetSample);
  }
  MsgAnswerGetMeasure ServeMeasure(std::string name) {
    h.AddSerialized(Protocol::kGetMeasure, MsgGetMeasure{std::move(name)}, &SerializeMsgGetMeasure);
    const auto frames = h.Serve();
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames.at(0).type, Protocol::kGetMeasure);
    return DriverHarness::Decode(frames.at(0), &SerializeMsgAnswerGetMeasure);
  }
  DriverHarness h;
};

TEST_F(MeasurementRequests, SampleFillsEveryGeometryFromTheDeviceContents) {
  const auto answer = ServeSample("J1", 1);
  EXPECT_EQ(answer.result, 0);
  ASSERT_EQ(answer.data.measurements.size(), 11u);
  for (int g = 0; g < 11; ++g) {
    const VantorelMeasurements& m = answer.data.measurements.at(static_cast<SpectrumAngle>(g));
    EXPECT_EQ(m.index, g);
    EXPECT_EQ(m.angle, g);
    EXPECT_FLOAT_EQ(m.spectrum[0], FakeDevice::SpectrumValue(1, g, 0));
    EXPECT_FLOAT_EQ(m.spectrum[30], FakeDevice::SpectrumValue(1, g, 30));
    const auto lab = FakeDevice::LabValues(1, g);
    EXPECT_FLOAT_EQ(m.lab[0], lab[0]);
    EXPECT_FLOAT_EQ(m.lab[2], lab[2]);
  }
  ASSERT_EQ(answer.data.images.size(), 6u);
  EXPECT_EQ(answer.data.images.at(R15As45).exr, FakeDevice::ImageBytes(1, 3));
  EXPECT_EQ(h.glue.Names(), (std::vector<std::string>{"SampleRead", "ResultReady"}));

  const auto calls = h.device.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "GetJobs");
  EXPECT_EQ(calls[1].args,
            (std::vector<std::string>{"J1", "1", "ALL", "ALL", "0", "(0,0),(3,0)", "5", "1"}));
}

TEST_F(MeasurementRequests, SampleErrorsAnswerEmptyDataAndKeepTheSession) {
  EXPECT_EQ(ServeSample("missing", 0).result, JobNotFoundCode);
  EXPECT_EQ(h.device.CountCalls("GetSample"), 0);

  h.device.getSampleResult = 3004;
  h.Reconnect();
  const auto answer = ServeSample("J1", 99);  // passed on unchecked
  EXPECT_EQ(answer.result, 3004);
  EXPECT_TRUE(answer.data.measurements.empty());
  EXPECT_TRUE(answer.data.images.empty());
  EXPECT_TRUE(h.driver.deviceConnected);
  EXPECT_TRUE(h.glue.calls.empty());

  h.driver.deviceConnected = false;
  h.Reconnect();
  EXPECT_EQ(ServeSample("J1", 0).result, DeviceNotConnectedCode);
}

TEST_F(MeasurementRequests, ContentsWithoutAPlaceAreSkippedWithoutTouchingRealGeometries) {
  h.device.sample.unlistedGeometry = true;
  testing::internal::CaptureStdout();
  auto answer = ServeSample("J1", 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(answer.result, 0);
  EXPECT_EQ(answer.data.measurements.size(), 11u);
  EXPECT_FLOAT_EQ(answer.data.measurements.at(R15As15).spectrum[0],
                  FakeDevice::SpectrumValue(0, 2, 0));
  EXPECT_EQ(answer.data.images.at(R15As_45).exr, FakeDevice::ImageBytes(0, 0));
  EXPECT_NE(out.find("Warning: measurement entry skipped: unlisted geometry"), std::string::npos);

  h.device.sample.unlistedGeometry = false;
  h.device.sample.shortContents = true;
  h.Reconnect();
  testing::internal::CaptureStdout();
  answer = ServeSample("J1", 0);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(answer.result, 0);
  EXPECT_TRUE(answer.data.measurements.empty());
  EXPECT_TRUE(answer.data.images.empty());
  EXPECT_NE(out.find("fewer than two spectral items"), std::string::npos);
  EXPECT_NE(out.find("image entry without an image"), std::string::npos);
}

TEST_F(MeasurementRequests, MeasureHandsOneSampleAtATimeThenCorrectsInAngleOrder) {
  VantorelMeasurementsFull filled;
  for (SpectrumAngle a : {R45As45, R15As15}) {
    VantorelMeasurements m{};
    m.angle = a;
    m.spectrum.fill(static_cast<float>(a));
    filled.measurements[a] = m;
    filled.images[a].exr = {static_cast<std::uint8_t>(a)};
  }
  filled.images[R45As110].exr = {42};  // no spectrum of its geometry
  // A glue may file an image under a key that names no geometry.
  filled.images[static_cast<SpectrumAngle>(42)].exr = {7};
  h.glue.fillWith = filled;

  testing::internal::CaptureStdout();
  const auto answer = ServeMeasure("J1");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(answer.result, 0);
  ASSERT_EQ(h.glue.calls.size(), 4u);
  EXPECT_EQ(h.glue.Names(),
            (std::vector<std::string>{"AddSample", "AddSample", "FillResult", "ResultReady"}));
  EXPECT_EQ(h.glue.calls[0].measurements, 11u);
  EXPECT_EQ(h.glue.calls[1].measurements, 11u);  // the first sample was released
  EXPECT_EQ(h.glue.calls[1].images, 6u);
  EXPECT_EQ(h.glue.calls[2].measurements, 0u);  // FillResult starts from an empty set

  const auto names = h.device.CallNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "CorrectExrImage"), 2);
  EXPECT_EQ(h.device.LastCorrectionSpectrum(), std::vector<float>(31, static_cast<float>(R45As45)));
  EXPECT_EQ(answer.data.images.at(R15As15).exr,
            (std::vector<std::uint8_t>{static_cast<std::uint8_t>(R15As15), 0xC5}));
  EXPECT_EQ(answer.data.images.at(R45As110).exr, std::vector<std::uint8_t>{42});
  EXPECT_NE(out.find("has no spectrum; left uncorrected"), std::string::npos);
  EXPECT_NE(out.find("image of geometry \"#42\" has no spectrum"), std::string::npos) << out;
}

TEST_F(MeasurementRequests, CorrectionOutputReplacesTheImageWhateverItsCode) {
  struct Case {
    std::int32_t code;
    bool output;
    std::vector<std::uint8_t> image;  // expected
    const char* warning;              // expected, or null for none
  };
  const Case cases[] = {
      {0, true, {1, 2, 3, 0xC5}, nullptr},
      {3006, false, {1, 2, 3}, "returned code 3006 and no image; left uncorrected"},
      {-7, true, {1, 2, 3, 0xC5}, "returned code -7; its output is used"},
  };
  h.glue.fillWith.measurements[R15As45] = VantorelMeasurements{};
  h.glue.fillWith.images[R15As45].exr = {1, 2, 3};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    h.device.correctExrImageResult = c.code;
    h.device.correctionOutputOnFailure = c.output;
    h.Reconnect();
    testing::internal::CaptureStdout();
    const auto answer = ServeMeasure("J0");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(answer.data.images.at(R15As45).exr, c.image);
    if (c.warning == nullptr) {
      EXPECT_EQ(out, "");
    } else {
      EXPECT_NE(
          out.find(std::string("Warning: image correction of geometry \"r15as45\" ") + c.warning),
          std::string::npos)
          << out;
      EXPECT_EQ(out.find("Warning:"), out.rfind("Warning:")) << "one warning: " << out;
    }
  }
}

TEST_F(MeasurementRequests, LaterEntryOfAGeometryWins) {
  h.device.sample.duplicateGeometry = 3;
  const auto answer = ServeSample("J1", 1);
  EXPECT_EQ(answer.result, 0);
  ASSERT_EQ(answer.data.measurements.size(), 11u);
  const VantorelMeasurements& m = answer.data.measurements.at(R15As45);
  EXPECT_EQ(m.index, 11);
  EXPECT_EQ(m.angle, R15As45);
  for (std::uint32_t i : {0u, 30u}) {
    EXPECT_FLOAT_EQ(m.spectrum[i], FakeDevice::SpectrumValue(1, FakeDevice::kDuplicateValues, i));
  }
  const auto lab = FakeDevice::LabValues(1, FakeDevice::kDuplicateValues);
  EXPECT_EQ(m.lab, (std::array<float, 3>{lab[0], lab[1], lab[2]}));
}

TEST_F(MeasurementRequests, JobWithoutSamplesStillRunsTheGlueSteps) {
  const auto answer = ServeMeasure("J0");
  EXPECT_EQ(answer.result, 0);
  EXPECT_EQ(h.glue.Names(), (std::vector<std::string>{"FillResult", "ResultReady"}));
  EXPECT_EQ(h.device.CountCalls("GetState"), 0);
}

TEST_F(MeasurementRequests, ReadinessPollingReadsOnTheFifthPollAndGivesUpAfterIt) {
  h.device.jobs = {{"J", 1, 2004}};
  h.device.deviceStates = {1, 1, 1, 1, 1, 2};  // first read, then ready on poll 5
  EXPECT_EQ(ServeMeasure("J").result, 0);
  EXPECT_EQ(h.device.CountCalls("GetState"), 6);
  EXPECT_TRUE(h.driver.deviceConnected);

  h.device.ClearCalls();
  h.device.deviceStates = {1, 1, 1, 1, 1, 1, 2};  // ready only after the fifth poll
  h.Reconnect();
  const auto answer = ServeMeasure("J");
  EXPECT_EQ(answer.result, DeviceNotConnectedCode);
  EXPECT_EQ(h.device.CountCalls("GetState"), 6);
  EXPECT_EQ(h.device.CountCalls("GetSample"), 0);
  EXPECT_FALSE(h.driver.deviceConnected);

  // Later job and measurement requests need a new connect.
  h.Reconnect();
  EXPECT_EQ(ServeMeasure("J").result, DeviceNotConnectedCode);
}

TEST_F(MeasurementRequests, FailingStatePollEndsTheSessionAndFailingSampleDoesNot) {
  h.device.getStateResult = 812;
  EXPECT_EQ(ServeMeasure("J1").result, 812);
  EXPECT_FALSE(h.driver.deviceConnected);

  h.driver.deviceConnected = true;
  h.device.getStateResult = 0;
  h.device.deviceStates = {2};
  h.device.getSampleResult = 913;
  h.Reconnect();
  const auto answer = ServeMeasure("J1");
  EXPECT_EQ(answer.result, 913);
  EXPECT_TRUE(answer.data.measurements.empty());
  EXPECT_TRUE(h.driver.deviceConnected);
}

TEST_F(MeasurementRequests, FailureAtALaterSampleAnswersItsCodeAndEndsTheGlueResult) {
  h.device.getSampleResult = 914;
  h.device.getSampleResultIndex = 1;
  const auto answer = ServeMeasure("J1");
  EXPECT_EQ(answer.result, 914);
  EXPECT_TRUE(answer.data.measurements.empty());
  EXPECT_TRUE(answer.data.images.empty());
  EXPECT_TRUE(h.driver.deviceConnected);
  // Sample 0 went to the glue; ResultReady drops it before the next request.
  EXPECT_EQ(h.glue.Names(), (std::vector<std::string>{"AddSample", "ResultReady"}));
  EXPECT_EQ(h.device.CountCalls("GetSample"), 2);
}

}  // namespace
