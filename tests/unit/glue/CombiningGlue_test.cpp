#include "sim/glue/CombiningGlue.h"

#include <gtest/gtest.h>

#include "colour/ExrCodec.h"
#include "colour/TextureStats.h"
#include "sim/instrument/SparkleImage.h"

namespace {

VantorelMeasurements Record(SpectrumAngle angle, std::int64_t index, float level, float l) {
  VantorelMeasurements m{};
  m.index = index;
  m.angle = angle;
  m.spectrum.fill(level);
  m.lab = {l, 2 * l, -l};
  return m;
}

VantorelImage ImageOf(std::vector<std::uint8_t> bytes) {
  VantorelImage image;
  image.exr = std::move(bytes);
  return image;
}

TEST(CombiningGlue, FillResultAveragesSpectraAndLabAndKeepsFirstImage) {
  CombiningGlue glue;
  const auto exr = colour::EncodeExr(instrument::MakeSparkleImage(64, {0.2, 0.3, 0.4}, 7));

  VantorelMeasurementsFull first;
  first.measurements[R15As15] = Record(R15As15, 2, 0.2f, 40);
  first.measurements[R45As110] = Record(R45As110, 10, 0.1f, 20);
  first.images[R15As15] = ImageOf(exr);
  glue.AddSample(&first);

  VantorelMeasurementsFull second;
  second.measurements[R15As15] = Record(R15As15, 5, 0.4f, 60);
  second.images[R15As15] = ImageOf({1, 2, 3});  // a later image is not kept
  second.images[R45As45] = ImageOf({9});        // a geometry seen first later is kept
  glue.AddSample(&second);
  EXPECT_EQ(glue.SampleCount(), 2);

  VantorelMeasurementsFull result;
  result.measurements[R15As_45] = Record(R15As_45, 0, 1, 1);  // stale content is replaced
  glue.FillResult(&result);

  ASSERT_EQ(result.measurements.size(), 2u);
  const VantorelMeasurements& both = result.measurements.at(R15As15);
  EXPECT_EQ(both.index, 2);
  EXPECT_EQ(both.angle, R15As15);
  EXPECT_FLOAT_EQ(both.spectrum[0], 0.3f);
  EXPECT_FLOAT_EQ(both.spectrum[30], 0.3f);
  EXPECT_FLOAT_EQ(both.lab[0], 50.0f);
  EXPECT_FLOAT_EQ(both.lab[1], 100.0f);
  EXPECT_FLOAT_EQ(both.lab[2], -50.0f);
  EXPECT_FLOAT_EQ(result.measurements.at(R45As110).spectrum[15], 0.1f);

  ASSERT_EQ(result.images.size(), 2u);
  const VantorelImage& image = result.images.at(R15As15);
  EXPECT_EQ(image.exr, exr);
  EXPECT_TRUE(image.secondImage.empty());
  colour::Image decoded;
  ASSERT_TRUE(colour::DecodeExr(exr, decoded));
  const auto expected = colour::TextureStats(decoded);
  for (int i = 0; i < colour::kTextureValueCount; ++i) {
    EXPECT_DOUBLE_EQ(image.texture.values[i], expected[i]) << "texture value " << i;
  }
  EXPECT_GT(image.texture.values[colour::kMeanLuminance], 0.0);
  // An image that cannot be decoded keeps its bytes and gets zero texture values.
  const VantorelImage& broken = result.images.at(R45As45);
  EXPECT_EQ(broken.exr, std::vector<std::uint8_t>{9});
  EXPECT_EQ(broken.texture.values[0], 0.0);
}

TEST(CombiningGlue, ResultReadyStartsAfresh) {
  CombiningGlue glue;
  VantorelMeasurementsFull sample;
  sample.measurements[R15As45] = Record(R15As45, 3, 0.5f, 50);
  glue.AddSample(&sample);
  glue.ResultReady(&sample);
  EXPECT_EQ(glue.SampleCount(), 0);

  VantorelMeasurementsFull result;
  glue.FillResult(&result);
  EXPECT_TRUE(result.measurements.empty());
  EXPECT_TRUE(result.images.empty());

  // SampleRead keeps nothing either.
  glue.SampleRead(&sample);
  glue.FillResult(&result);
  EXPECT_TRUE(result.measurements.empty());
}

}  // namespace
