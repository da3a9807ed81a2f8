#include "colour/ExrCorrection.h"

#include <array>
#include <cmath>

#include <gtest/gtest.h>

#include "colour/ExrCodec.h"
#include "colour/TextureStats.h"
#include "sim/instrument/SparkleImage.h"

namespace colour {
namespace {

// Sparkle textures of the virtual instrument: images that compress like the
// ones the driver carries.
using instrument::MakeSparkleImage;

// A greenish-yellow paint: reflectance rising from 5 % at 400 nm to 65 % at
// 700 nm.
std::array<float, kSpectrumSize> Ramp() {
  std::array<float, kSpectrumSize> s;
  for (std::size_t i = 0; i < kSpectrumSize; ++i) s[i] = 0.05f + 0.02f * static_cast<float>(i);
  return s;
}

TEST(ExrCorrection, MeanColourBecomesTheSpectrumColourAndTextureStays) {
  const Image before = MakeSparkleImage(128, {0.05, 0.2, 0.6}, 42);
  const auto in = EncodeExr(before);
  ASSERT_FALSE(in.empty());
  const auto spectrum = Ramp();
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(CorrectExr(in, spectrum, out));

  Image after;
  ASSERT_TRUE(DecodeExr(out, after));
  EXPECT_EQ(after.width, 128);
  const LinearRgb target = SpectrumToLinearSrgb(spectrum);
  const LinearRgb mean = MeanColour(after);
  EXPECT_NEAR(mean.r, target.r, 1e-3 * std::fabs(target.r));
  EXPECT_NEAR(mean.g, target.g, 1e-3 * std::fabs(target.g));
  EXPECT_NEAR(mean.b, target.b, 1e-3 * std::fabs(target.b));

  // Scaling keeps where the sparkles are and how big they are.
  const auto statsBefore = TextureStats(before);
  const auto statsAfter = TextureStats(after);
  EXPECT_NEAR(statsAfter[kSparkleArea], statsBefore[kSparkleArea], 0.01);
  EXPECT_NEAR(statsAfter[kSparklesPerMegapixel], statsBefore[kSparklesPerMegapixel],
              0.05 * statsBefore[kSparklesPerMegapixel]);
}

TEST(ExrCorrection, ChannelWithZeroMeanIsFilledWithTheTarget) {
  Image image = MakeSparkleImage(16, {0.5, 0.25, 0.0}, 1);
  ASSERT_TRUE(CorrectImage(image, {0.1, 0.5, 0.2}));
  const LinearRgb mean = MeanColour(image);
  EXPECT_NEAR(mean.r, 0.1, 1e-6);
  EXPECT_NEAR(mean.g, 0.5, 1e-6);
  for (std::size_t i = 2; i < image.rgb.size(); i += 3) ASSERT_FLOAT_EQ(image.rgb[i], 0.2f);

  Image invalid;
  EXPECT_FALSE(CorrectImage(invalid, {0.1, 0.1, 0.1}));
  EXPECT_FALSE(CorrectImage(image, {std::nan(""), 0.1, 0.1}));
}

TEST(ExrCorrection, FailureLeavesOutputEmpty) {
  const auto good = EncodeExr(MakeSparkleImage(16, {0.2, 0.2, 0.2}, 5));
  const auto spectrum = Ramp();
  auto withNan = spectrum;
  withNan[7] = std::nanf("");
  const std::vector<std::uint8_t> garbage = {'n', 'o', 't', ' ', 'e', 'x', 'r'};
  const std::vector<std::uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
  const std::span<const float> short30(spectrum.data(), 30);

  for (const auto& [in, values] :
       {std::pair{std::span<const std::uint8_t>(garbage), std::span<const float>(spectrum)},
        std::pair{std::span<const std::uint8_t>(truncated), std::span<const float>(spectrum)},
        std::pair{std::span<const std::uint8_t>(good), short30},
        std::pair{std::span<const std::uint8_t>(good), std::span<const float>(withNan)}}) {
    std::vector<std::uint8_t> out = {1, 2, 3};
    EXPECT_FALSE(CorrectExr(in, values, out));
    EXPECT_TRUE(out.empty());
  }
  std::vector<std::uint8_t> out;
  EXPECT_TRUE(CorrectExr(good, spectrum, out));
  EXPECT_FALSE(out.empty());
}

}  // namespace
}  // namespace colour
