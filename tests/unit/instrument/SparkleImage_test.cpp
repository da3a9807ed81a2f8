#include <cmath>

#include <gtest/gtest.h>

#include "sim/instrument/SparkleImage.h"

#include "colour/ExrCodec.h"
#include "colour/TextureStats.h"

namespace instrument {
namespace {

using namespace colour;

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
}  // namespace instrument
