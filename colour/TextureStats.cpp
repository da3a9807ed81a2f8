#include "colour/TextureStats.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

namespace colour {
namespace {

struct Moments {
  double sum = 0.0;
  double sumSquares = 0.0;
  std::size_t count = 0;
  void Add(double v) {
    sum += v;
    sumSquares += v * v;
    ++count;
  }
  double Mean() const { return count ? sum / static_cast<double>(count) : 0.0; }
  double Deviation() const {
    if (!count) return 0.0;
    const double mean = Mean();
    return std::sqrt(std::max(0.0, sumSquares / static_cast<double>(count) - mean * mean));
  }
};

// Counts 8-connected groups of marked pixels (mask value 1); marks visited
// pixels 2. Explicit stack: a large sparkle must not exhaust the call stack.
std::size_t CountGroups(std::vector<std::uint8_t>& mask, int width, int height) {
  std::size_t groups = 0;
  std::vector<std::size_t> stack;
  for (std::size_t start = 0; start < mask.size(); ++start) {
    if (mask[start] != 1) continue;
    ++groups;
    mask[start] = 2;
    stack.push_back(start);
    while (!stack.empty()) {
      const std::size_t p = stack.back();
      stack.pop_back();
      const int x = static_cast<int>(p % static_cast<std::size_t>(width));
      const int y = static_cast<int>(p / static_cast<std::size_t>(width));
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx;
          const int ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
          const std::size_t q = static_cast<std::size_t>(ny) * width + nx;
          if (mask[q] == 1) {
            mask[q] = 2;
            stack.push_back(q);
          }
        }
      }
    }
  }
  return groups;
}

std::array<double, kTextureValueCount> Compute(const Image& image) {
  std::array<double, kTextureValueCount> values{};
  if (!image.Valid()) return values;
  const std::size_t n = image.PixelCount();

  std::vector<float> luminance(n);
  Moments all;
  for (std::size_t p = 0; p < n; ++p) {
    const double y = Luminance({image.rgb[3 * p], image.rgb[3 * p + 1], image.rgb[3 * p + 2]});
    luminance[p] = std::isfinite(y) ? static_cast<float>(y) : 0.0f;
    all.Add(luminance[p]);
  }

  std::vector<float> sorted = luminance;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n / 2),
                   sorted.end());
  const double median = sorted[n / 2];
  sorted = {};
  const double threshold = std::max(2.0 * median, 0.0);

  std::vector<std::uint8_t> mask(n);
  Moments sparkle;
  Moments background;
  for (std::size_t p = 0; p < n; ++p) {
    if (luminance[p] > threshold) {
      mask[p] = 1;
      sparkle.Add(luminance[p]);
    } else {
      background.Add(luminance[p]);
    }
  }
  const std::size_t groups = CountGroups(mask, image.width, image.height);

  values[kMeanLuminance] = all.Mean();
  values[kLuminanceDeviation] = all.Deviation();
  values[kSparkleArea] = static_cast<double>(sparkle.count) / static_cast<double>(n);
  values[kSparkleIntensity] = sparkle.count && median > 0.0 ? sparkle.Mean() / median : 0.0;
  values[kGraininess] = background.Mean() > 0.0 ? background.Deviation() / background.Mean() : 0.0;
  values[kSparklesPerMegapixel] = static_cast<double>(groups) * 1e6 / static_cast<double>(n);
  values[kMeanSparkleSize] =
      groups ? static_cast<double>(sparkle.count) / static_cast<double>(groups) : 0.0;
  return values;
}

}  // namespace

std::array<double, kTextureValueCount> TextureStats(const Image& image) {
  try {
    return Compute(image);
  } catch (const std::bad_alloc&) {
    return {};  // the temporaries of a large image on a small address space
  }
}

}  // namespace colour
