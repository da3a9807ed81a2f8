#include <cmath>

#include <gtest/gtest.h>

#include "sim/colour/ExrCodec.h"
#include "sim/colour/SparkleImage.h"
#include "sim/colour/TextureStats.h"

namespace colour {
namespace {

Image Grey(int width, int height, float level) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgb.assign(3u * width * height, level);
  return image;
}

void SetGrey(Image& image, int x, int y, float level) {
  float* p = &image.rgb[3u * (y * image.width + x)];
  p[0] = p[1] = p[2] = level;  // grey: luminance equals the level
}

TEST(SparkleImage, MeanEqualsTheColourAndTheSeedDecides) {
  for (const LinearRgb colour : {LinearRgb{0.3, 0.2, 0.1}, LinearRgb{0.9, 0.05, -0.02},
                                 LinearRgb{0.0, 0.0, 0.0}, LinearRgb{2.0, 1.5, 1.0}}) {
    const Image image = MakeSparkleImage(kDefaultImageSize, colour, 99);
    ASSERT_TRUE(image.Valid());
    EXPECT_EQ(image.width, kDefaultImageSize);
    EXPECT_EQ(image.height, kDefaultImageSize);
    const LinearRgb mean = MeanColour(image);
    EXPECT_NEAR(mean.r, colour.r, 1e-5 * (1 + std::fabs(colour.r)));
    EXPECT_NEAR(mean.g, colour.g, 1e-5 * (1 + std::fabs(colour.g)));
    EXPECT_NEAR(mean.b, colour.b, 1e-5 * (1 + std::fabs(colour.b)));
  }
  const LinearRgb colour{0.3, 0.2, 0.1};
  EXPECT_EQ(MakeSparkleImage(64, colour, 5).rgb, MakeSparkleImage(64, colour, 5).rgb);
  EXPECT_NE(MakeSparkleImage(64, colour, 5).rgb, MakeSparkleImage(64, colour, 6).rgb);
  EXPECT_TRUE(MakeSparkleImage(1, colour, 5).Valid());

  EXPECT_FALSE(MakeSparkleImage(0, colour, 5).Valid());
  EXPECT_FALSE(MakeSparkleImage(kMaxImageSide + 1, colour, 5).Valid());
  EXPECT_FALSE(MakeSparkleImage(8, {std::nan(""), 0, 0}, 5).Valid());
  EXPECT_FALSE(MakeSparkleImage(8, colour, 5, {.density = 0.5}).Valid());
  EXPECT_FALSE(MakeSparkleImage(8, colour, 5, {.intensity = -1}).Valid());
  EXPECT_FALSE(MakeSparkleImage(8, colour, 5, {.grain = std::nan("")}).Valid());
}

TEST(TextureStats, HandMadeImage) {
  // 10 x 10 grey 0.5 with three sparkles: a 2x2 block at 5, a diagonal pair
  // at 3 (one sparkle through the corner contact) and a single pixel at 2.
  Image image = Grey(10, 10, 0.5f);
  for (int y = 1; y <= 2; ++y) {
    for (int x = 1; x <= 2; ++x) SetGrey(image, x, y, 5.0f);
  }
  SetGrey(image, 6, 6, 3.0f);
  SetGrey(image, 7, 7, 3.0f);
  SetGrey(image, 4, 8, 2.0f);
  const auto v = TextureStats(image);
  // Median 0.5, threshold 1.0, 7 sparkle pixels in 3 sparkles.
  // Mean = (93·0.5 + 4·5 + 2·3 + 2) / 100 = 0.745.
  // Mean of squares = (93·0.25 + 4·25 + 2·9 + 4) / 100 = 1.4525,
  // deviation = sqrt(1.4525 − 0.745²) = sqrt(0.897475) = 0.947352.
  EXPECT_NEAR(v[kMeanLuminance], 0.745, 1e-6);
  EXPECT_NEAR(v[kLuminanceDeviation], 0.947352, 1e-5);
  EXPECT_NEAR(v[kSparkleArea], 0.07, 1e-12);
  EXPECT_NEAR(v[kSparkleIntensity], (28.0 / 7.0) / 0.5, 1e-6);
  EXPECT_NEAR(v[kGraininess], 0.0, 1e-6);
  EXPECT_NEAR(v[kSparklesPerMegapixel], 3e6 / 100.0, 1e-6);
  EXPECT_NEAR(v[kMeanSparkleSize], 7.0 / 3.0, 1e-12);
}

TEST(TextureStats, CheckerboardHasGrainButNoSparkles) {
  // 4 x 4 checkerboard of 0.4 and 0.6: mean 0.5, deviation 0.1, graininess
  // 0.2; the median (rank 8 of 16) is 0.6, so nothing passes 1.2.
  Image image = Grey(4, 4, 0.4f);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      if ((x + y) % 2) SetGrey(image, x, y, 0.6f);
    }
  }
  const auto v = TextureStats(image);
  EXPECT_NEAR(v[kMeanLuminance], 0.5, 1e-6);
  EXPECT_NEAR(v[kLuminanceDeviation], 0.1, 1e-6);
  EXPECT_NEAR(v[kGraininess], 0.2, 1e-5);
  EXPECT_EQ(v[kSparkleArea], 0.0);
  EXPECT_EQ(v[kSparkleIntensity], 0.0);
  EXPECT_EQ(v[kSparklesPerMegapixel], 0.0);
  EXPECT_EQ(v[kMeanSparkleSize], 0.0);

  // Non-finite pixels count as black instead of poisoning the values.
  SetGrey(image, 0, 0, std::nanf(""));
  for (double value : TextureStats(image)) EXPECT_TRUE(std::isfinite(value));
  Image invalid = Grey(4, 4, 0.5f);
  invalid.rgb.pop_back();
  for (double value : TextureStats(invalid)) EXPECT_EQ(value, 0.0);
}

TEST(TextureStats, FollowTheGeneratorsEffectParameters) {
  const LinearRgb colour{0.2, 0.3, 0.4};
  // No sparkles: only the triangular grain, whose relative deviation is
  // grain / sqrt(6).
  const auto plain =
      TextureStats(MakeSparkleImage(kDefaultImageSize, colour, 1, {.density = 0, .grain = 0.12}));
  EXPECT_NEAR(plain[kGraininess], 0.12 / std::sqrt(6.0), 0.002);
  EXPECT_EQ(plain[kSparkleArea], 0.0);
  EXPECT_NEAR(plain[kMeanLuminance], Luminance(colour), 1e-5);

  const auto sparse =
      TextureStats(MakeSparkleImage(kDefaultImageSize, colour, 1, {.density = 0.002}));
  const auto dense =
      TextureStats(MakeSparkleImage(kDefaultImageSize, colour, 1, {.density = 0.01}));
  EXPECT_GT(sparse[kSparkleArea], 0.0);
  EXPECT_GT(dense[kSparkleArea], 2 * sparse[kSparkleArea]);
  EXPECT_GT(dense[kSparklesPerMegapixel], 2 * sparse[kSparklesPerMegapixel]);
  // Roughly one detected sparkle per generated one while they rarely touch
  // (0.002 per pixel: 2000 per megapixel; dim ones stay below threshold).
  EXPECT_GT(sparse[kSparklesPerMegapixel], 1000.0);
  EXPECT_LT(sparse[kSparklesPerMegapixel], 2100.0);
  EXPECT_GT(sparse[kSparkleIntensity], 2.0);
  EXPECT_NEAR(sparse[kMeanLuminance], Luminance(colour), 1e-5);
}

TEST(SparkleImage, LargeImageSurvivesTheRoundTrip) {
  const LinearRgb colour{0.25, 0.3, 0.35};
  const Image image = MakeSparkleImage(2048, colour, 77);
  ASSERT_TRUE(image.Valid());
  const auto bytes = EncodeExr(image);
  ASSERT_FALSE(bytes.empty());
  Image decoded;
  ASSERT_TRUE(DecodeExr(bytes, decoded));
  EXPECT_EQ(decoded.width, 2048);
  const LinearRgb mean = MeanColour(decoded);
  EXPECT_NEAR(mean.r, colour.r, 1e-3);
  EXPECT_NEAR(mean.g, colour.g, 1e-3);
  EXPECT_NEAR(mean.b, colour.b, 1e-3);
}

}  // namespace
}  // namespace colour
