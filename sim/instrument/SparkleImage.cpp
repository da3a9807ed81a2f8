#include "sim/instrument/SparkleImage.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace instrument {

using colour::Image;
using colour::kMaxImageSide;
using colour::LinearRgb;

namespace {

// splitmix64: small, fast, and the same sequence on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Uniform integer in [0, n), n > 0.
  int Below(int n) { return static_cast<int>(Unit() * n); }

 private:
  std::uint64_t state;
};

bool InRange(double v, double lo, double hi) { return v >= lo && v <= hi; }

// Adds one Gaussian spot of the given peak and width at (cx, cy), clipped at
// the border (a sparkle at the edge is partly outside the field of view).
void AddSparkle(std::vector<float>& field, int size, int cx, int cy, double peak, double sigma) {
  const int reach = static_cast<int>(std::ceil(2.5 * sigma));
  const double inv = 1.0 / (2.0 * sigma * sigma);
  for (int y = std::max(0, cy - reach); y <= std::min(size - 1, cy + reach); ++y) {
    for (int x = std::max(0, cx - reach); x <= std::min(size - 1, cx + reach); ++x) {
      const double d2 = static_cast<double>((x - cx) * (x - cx) + (y - cy) * (y - cy));
      field[static_cast<std::size_t>(y) * size + x] +=
          static_cast<float>(peak * std::exp(-d2 * inv));
    }
  }
}

}  // namespace

namespace {

Image Generate(int size, const LinearRgb& mean, std::uint64_t seed, const SparkleEffect& effect) {
  if (size < 1 || size > kMaxImageSide) return {};
  if (!std::isfinite(mean.r) || !std::isfinite(mean.g) || !std::isfinite(mean.b)) return {};
  if (!InRange(effect.density, 0.0, 0.25) || !InRange(effect.intensity, 0.0, 1000.0) ||
      !InRange(effect.grain, 0.0, 1.0)) {
    return {};
  }

  Random random(seed);
  const std::size_t pixels = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
  std::vector<float> field(pixels);
  // Triangular grain (sum of two uniforms): softer than uniform noise, bounded
  // unlike Gaussian noise, so the factor never goes negative.
  for (float& f : field) {
    f = static_cast<float>(1.0 + effect.grain * (random.Unit() + random.Unit() - 1.0));
  }
  const auto sparkles =
      static_cast<long long>(std::llround(effect.density * static_cast<double>(pixels)));
  for (long long i = 0; i < sparkles; ++i) {
    const int cx = random.Below(size);
    const int cy = random.Below(size);
    const double peak = effect.intensity * (0.25 + 1.5 * random.Unit());
    const double sigma = 0.45 + 0.6 * random.Unit();
    AddSparkle(field, size, cx, cy, peak, sigma);
  }

  double sum = 0.0;
  for (float f : field) sum += f;
  const double average = sum / static_cast<double>(pixels);
  // With grain 1 every factor may be (almost) zero; a flat field keeps the
  // mean colour right in that corner.
  const double scale = average > 1e-12 ? 1.0 / average : 0.0;

  Image image;
  image.width = size;
  image.height = size;
  image.rgb.resize(3 * pixels);
  for (std::size_t p = 0; p < pixels; ++p) {
    const double f = scale > 0.0 ? field[p] * scale : 1.0;
    image.rgb[3 * p] = static_cast<float>(mean.r * f);
    image.rgb[3 * p + 1] = static_cast<float>(mean.g * f);
    image.rgb[3 * p + 2] = static_cast<float>(mean.b * f);
  }
  return image;
}

}  // namespace

Image MakeSparkleImage(int size, const LinearRgb& mean, std::uint64_t seed,
                       const SparkleEffect& effect) {
  try {
    return Generate(size, mean, seed, effect);
  } catch (const std::bad_alloc&) {
    return {};  // a large image on a small address space
  }
}

}  // namespace instrument
