// Measurement requests against the virtual instrument: one sample of a job,
// and the whole job combined by the glue module with its images corrected.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "colour/Colorimetry.h"
#include "colour/ExrCodec.h"
#include "colour/Image.h"
#include "integration/TestSupport.h"

namespace integration {
namespace {

const std::set<SpectrumAngle> kImageAngles = {R15As15,  R15As45, R15As80,
                                              R45As_15, R45As15, R45As45};
const std::uint8_t kExrMagic[4] = {0x76, 0x2F, 0x31, 0x01};

std::set<SpectrumAngle> ImageKeys(const VantorelMeasurementsFull& data) {
  std::set<SpectrumAngle> keys;
  for (const auto& entry : data.images) keys.insert(entry.first);
  return keys;
}

// Every image is a real EXR file of the configured size.
void ExpectExrImages(const VantorelMeasurementsFull& data) {
  for (const auto& [angle, image] : data.images) {
    ASSERT_GE(image.exr.size(), 4u) << "geometry " << angle;
    EXPECT_TRUE(std::equal(kExrMagic, kExrMagic + 4, image.exr.begin())) << "geometry " << angle;
    colour::Image decoded;
    ASSERT_TRUE(colour::DecodeExr(image.exr, decoded)) << "geometry " << angle;
    EXPECT_EQ(decoded.width, 32);
    EXPECT_EQ(decoded.height, 32);
  }
}

class Measurement : public SharedDriver<Measurement> {
 public:
  static Environment Env() { return FastInstrument(); }
};

TEST_F(Measurement, SampleOfAMeasuredJob) {
  ASSERT_TRUE(PrepareMeasuredJob(client, "sample", "Pearl White", 2));
  const vantorel::MeasurementAnswer first = client.GetSample("sample", 0);
  ASSERT_TRUE(first.status.Ok()) << first.status.text;

  ASSERT_EQ(first.data.measurements.size(), 11u);
  for (const auto& [angle, record] : first.data.measurements) {
    EXPECT_EQ(record.angle, angle);
    // The instrument lists the geometries in the records' order.
    EXPECT_EQ(record.index, static_cast<std::int64_t>(angle));
    for (float value : record.spectrum) {
      EXPECT_TRUE(std::isfinite(value) && value > 0.0f && value < 5.0f) << value;
    }
    // L*a*b* belongs to this geometry's spectrum (D65, 10 degree observer).
    const colour::Lab lab = colour::SpectrumToLab(colour::SpectrumView(record.spectrum));
    EXPECT_NEAR(record.lab[0], lab.l, 0.01) << "geometry " << angle;
    EXPECT_NEAR(record.lab[1], lab.a, 0.01) << "geometry " << angle;
    EXPECT_NEAR(record.lab[2], lab.b, 0.01) << "geometry " << angle;
  }
  EXPECT_EQ(ImageKeys(first.data), kImageAngles);
  ExpectExrImages(first.data);

  // Values are kept by the instrument: the same sample reads the same, the
  // next sample differs.
  const vantorel::MeasurementAnswer again = client.GetSample("sample", 0);
  ASSERT_TRUE(again.status.Ok());
  EXPECT_TRUE(again.data == first.data);
  const vantorel::MeasurementAnswer second = client.GetSample("sample", 1);
  ASSERT_TRUE(second.status.Ok());
  EXPECT_FALSE(second.data.measurements == first.data.measurements);
}

TEST_F(Measurement, SampleRequestsTheInstrumentCannotServe) {
  ASSERT_TRUE(PrepareMeasuredJob(client, "two", "Blue", 2));
  for (const std::int32_t index : {2, -1}) {
    const vantorel::MeasurementAnswer answer = client.GetSample("two", index);
    EXPECT_EQ(answer.status.failure, vantorel::Failure::None);
    EXPECT_EQ(answer.status.code, 3004) << "index " << index;
    EXPECT_TRUE(answer.data.measurements.empty() && answer.data.images.empty());
  }
  EXPECT_EQ(client.GetSample("no such job", 0).status.code, 1002);
  EXPECT_EQ(client.GetMeasure("no such job").status.code, 1002);
  // A stored job that was never run: the instrument refuses the first sample.
  ASSERT_TRUE(client.AddJob("unmeasured", "Blue", 2).Ok());
  EXPECT_EQ(client.GetMeasure("unmeasured").status.code, 3004);
  EXPECT_EQ(client.GetJobs().status.code, 0) << "a failed sample read keeps the session";
}

TEST_F(Measurement, MeasureCombinesAllSamplesAndCorrectsImages) {
  constexpr int kSamples = 3;
  ASSERT_TRUE(PrepareMeasuredJob(client, "whole", "Copper Metallic", kSamples));
  std::vector<VantorelMeasurementsFull> samples;
  for (int i = 0; i < kSamples; ++i) {
    vantorel::MeasurementAnswer sample = client.GetSample("whole", i);
    ASSERT_TRUE(sample.status.Ok());
    samples.push_back(std::move(sample.data));
  }
  const vantorel::MeasurementAnswer whole = client.GetMeasure("whole");
  ASSERT_TRUE(whole.status.Ok()) << whole.status.text;

  ASSERT_EQ(whole.data.measurements.size(), 11u);
  for (const auto& [angle, record] : whole.data.measurements) {
    EXPECT_EQ(record.angle, angle);
    for (std::size_t v = 0; v < kSpectrumValueCount; ++v) {
      double sum = 0;
      for (const auto& sample : samples) sum += sample.measurements.at(angle).spectrum[v];
      EXPECT_NEAR(record.spectrum[v], sum / kSamples, 1e-5) << "geometry " << angle;
    }
  }
  EXPECT_EQ(ImageKeys(whole.data), kImageAngles);
  ExpectExrImages(whole.data);
  // Corrected: each image's mean colour is the colour of the answered mean
  // spectrum of its geometry (within half-float precision).
  for (const auto& [angle, image] : whole.data.images) {
    colour::Image decoded;
    ASSERT_TRUE(colour::DecodeExr(image.exr, decoded));
    const colour::LinearRgb mean = colour::MeanColour(decoded);
    const colour::LinearRgb target = colour::SpectrumToLinearSrgb(
        colour::SpectrumView(whole.data.measurements.at(angle).spectrum));
    EXPECT_NEAR(mean.r, target.r, 0.01 * std::fabs(target.r) + 1e-3) << "geometry " << angle;
    EXPECT_NEAR(mean.g, target.g, 0.01 * std::fabs(target.g) + 1e-3) << "geometry " << angle;
    EXPECT_NEAR(mean.b, target.b, 0.01 * std::fabs(target.b) + 1e-3) << "geometry " << angle;
    EXPECT_NE(image.exr, samples[0].images.at(angle).exr) << "image left uncorrected";
  }
}

TEST_F(Measurement, MeasureOfAJobWithoutSamples) {
  ASSERT_TRUE(EnsureSession(client));
  ASSERT_TRUE(client.AddJob("empty", "m", 0).Ok());
  const vantorel::MeasurementAnswer answer = client.GetMeasure("empty");
  EXPECT_TRUE(answer.status.Ok()) << answer.status.text;
  // Our glue module has nothing to combine.
  EXPECT_TRUE(answer.data.measurements.empty());
  EXPECT_TRUE(answer.data.images.empty());
}

}  // namespace
}  // namespace integration
