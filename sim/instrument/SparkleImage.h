// SparkleImage: the deterministic effect-paint texture the virtual instrument
// shows for a geometry.
//
// The texture is a field of brightness factors with mean exactly 1: a fine
// background grain plus small Gaussian sparkles of random position, size and
// peak, then rescaled so that its mean is 1. Every pixel is the target colour
// times the pixel's factor, so the image's mean colour equals the target
// colour up to float rounding, while its hue is the same everywhere.
//
// The same size, colour, seed and effect give the same pixels on the same
// platform (own random generator; the standard distributions are not used
// because their output differs between standard libraries).
//
// Threads: no shared state; calls may run concurrently.
#pragma once

#include <cstdint>

#include "colour/Colorimetry.h"
#include "colour/Image.h"

namespace instrument {

inline constexpr int kDefaultImageSize = 256;

// Appearance of the effect pigment.
struct SparkleEffect {
  // Sparkles per pixel, in [0, 0.25]: a 256 px image with 0.004 has 262.
  double density = 0.004;
  // Mean peak of a sparkle above the background, in units of the background
  // level, in [0, 1000]. Peaks vary between 0.25 and 1.75 times this value.
  double intensity = 6.0;
  // Relative amplitude of the background grain, in [0, 1]: factors before
  // rescaling lie in [1 - grain, 1 + grain].
  double grain = 0.08;
};

// A `size` x `size` image whose mean colour is `mean` (linear sRGB). Returns
// the empty image when size is outside 1..colour::kMaxImageSide, when a component of
// `mean` is not finite, or when an effect parameter is outside its range
// (NaN included), or when memory runs out. Takes a few milliseconds at the
// default size; a 2048 px image (about 50 MB of floats) takes about 0.2 s.
colour::Image MakeSparkleImage(int size, const colour::LinearRgb& mean, std::uint64_t seed,
                               const SparkleEffect& effect = {});

}  // namespace instrument
