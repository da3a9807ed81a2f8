#include "client/export/PngPreview.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "unit/export/ExportTestData.h"

namespace vantorel::exporter {
namespace {

colour::Image Solid(int width, int height, float r, float g, float b) {
  colour::Image image;
  image.width = width;
  image.height = height;
  for (int p = 0; p < width * height; ++p) image.rgb.insert(image.rgb.end(), {r, g, b});
  return image;
}

std::uint32_t BigEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
         (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

// Within white the colour is kept (linear 0.5 is sRGB 188); glints above it
// are compressed into range; bad pixels are harmless.
TEST(PngPreviewTest, ToneMapKeepsWhiteScaleAndCompressesGlints) {
  const std::vector<std::uint8_t> plain = ToneMapToSrgb8(Solid(2, 1, 0.5f, 1.0f, 0.0031308f));
  EXPECT_EQ(plain, (std::vector<std::uint8_t>{188, 255, 10, 188, 255, 10}));

  colour::Image image = Solid(100, 10, 0.5f, 0.5f, 0.5f);
  for (int p = 0; p < 10; ++p) {  // 1 % of the pixels far above white
    image.rgb[3 * p] = image.rgb[3 * p + 1] = image.rgb[3 * p + 2] = 50.0f;
  }
  const float inf = std::numeric_limits<float>::infinity();
  image.rgb[3 * 20] = std::numeric_limits<float>::quiet_NaN();
  image.rgb[3 * 21] = -inf;
  image.rgb[3 * 22 + 1] = inf;
  const std::vector<std::uint8_t> out = ToneMapToSrgb8(image);
  ASSERT_EQ(out.size(), 3000u);
  EXPECT_EQ(out[0], 255);           // the glint is the white point
  EXPECT_LT(out[3 * 50], 188);      // grey darkened, not clipped...
  EXPECT_GT(out[3 * 50], 60);       // ...but still clearly visible
  EXPECT_EQ(out[3 * 20], 0);        // NaN channel
  EXPECT_EQ(out[3 * 21], 0);        // negative infinity
  EXPECT_EQ(out[3 * 22 + 1], 255);  // positive infinity
  EXPECT_TRUE(ToneMapToSrgb8(colour::Image{}).empty());
}

TEST(PngPreviewTest, RealExrGivesPngOfItsSizeAndGarbageGivesNothing) {
  const ByteVector exr = exporttest::MakeExr(12, 5);
  const auto png = PngPreviewFromExr(exr);
  ASSERT_TRUE(png);
  ASSERT_GT(png->size(), 24u);
  const std::vector<std::uint8_t> signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(std::equal(signature.begin(), signature.end(), png->begin()));
  EXPECT_EQ(BigEndian32(*png, 16), 12u);  // IHDR width
  EXPECT_EQ(BigEndian32(*png, 20), 5u);   // IHDR height

  EXPECT_FALSE(PngPreviewFromExr({}));
  const ByteVector garbage(300, 0x76);
  EXPECT_FALSE(PngPreviewFromExr(garbage));
  const ByteVector truncated(exr.begin(),
                             exr.begin() + static_cast<std::ptrdiff_t>(exr.size() / 2));
  EXPECT_FALSE(PngPreviewFromExr(truncated));
}

}  // namespace
}  // namespace vantorel::exporter
