// TextureStats: seven numbers that describe an effect texture, computed from
// an image's luminance.
//
// Luminance Y of a pixel is the Rec. 709 weighting of its linear sRGB values;
// a non-finite Y counts as 0. The background level m is the median of Y (the
// value of rank n/2 in ascending order, n pixels). A pixel is a sparkle pixel
// when Y > max(2·m, 0); sparkle pixels that touch, edges or corners
// (8-neighbourhood), form one sparkle. The values, in this order:
//   0 mean luminance: mean of Y.
//   1 luminance deviation: population standard deviation of Y.
//   2 sparkle area: sparkle pixels / n, in [0, 1].
//   3 sparkle intensity: mean Y of the sparkle pixels / m; 0 without sparkle
//     pixels or when m <= 0.
//   4 graininess: standard deviation / mean of Y over the non-sparkle pixels
//     (the background's relative grain); 0 when that mean is <= 0.
//   5 sparkle density: sparkles per million pixels.
//   6 sparkle size: mean sparkle size in pixels (sparkle pixels / sparkles);
//     0 without sparkles.
//
// Threads: no shared state; calls may run concurrently. Linear in the pixel
// count, with one temporary float and one byte per pixel.
#pragma once

#include <array>

#include "colour/Image.h"

namespace colour {

enum TextureValue : int {
  kMeanLuminance = 0,
  kLuminanceDeviation = 1,
  kSparkleArea = 2,
  kSparkleIntensity = 3,
  kGraininess = 4,
  kSparklesPerMegapixel = 5,
  kMeanSparkleSize = 6,
};
inline constexpr int kTextureValueCount = 7;

// The seven values above; all zero for an invalid image (see Image::Valid)
// or when the temporaries cannot be allocated.
std::array<double, kTextureValueCount> TextureStats(const Image& image);

}  // namespace colour
