// TextureStats on hand-made images whose seven values can be worked out on
// paper.
#include "colour/TextureStats.h"

#include <cmath>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace colour
