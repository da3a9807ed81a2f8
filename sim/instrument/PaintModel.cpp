#include "sim/instrument/PaintModel.h"

#include <algorithm>
#include <cmath>

namespace instrument {
namespace {

// Base paints a make can stand for: silver, black, white, red, blue, green,
// gold and grey, the usual spread of car colours.
constexpr Paint kPaints[] = {
    {0.70, 0.70, 550, 100, 0.95, 0},   {0.035, 0.035, 550, 100, 0.30, 0},
    {0.78, 0.88, 600, 160, 0.05, 0},   {0.05, 0.72, 700, 55, 0.40, -15},
    {0.05, 0.50, 455, 50, 0.70, 20},   {0.05, 0.36, 530, 45, 0.50, -20},
    {0.08, 0.80, 640, 110, 0.80, -25}, {0.25, 0.25, 550, 100, 0.85, 0},
};

// SplitMix64: a small, well-mixed generator; enough for seeded noise.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Roughly normal with mean 0 and deviation 1 (sum of four uniforms).
  double Normal() { return (Uniform() + Uniform() + Uniform() + Uniform() - 2.0) * std::sqrt(3.0); }

 private:
  std::uint64_t state_;
};

// Angular gain of the flakes: the aspecular angle's distance from the
// specular direction makes near-specular geometries bright and the flop dark;
// the steeper illumination sees slightly fewer flakes.
double AngularGain(double metallic, std::size_t geometry) {
  const double aspecular = std::abs(static_cast<double>(kAspecularAngles[geometry]));
  const double illumination = kIlluminationAngles[geometry] == 45 ? 0.92 : 1.0;
  const double flakes = 3.0 * std::exp(-(aspecular - 15.0) / 25.0) * illumination;
  // A solid paint still loses a little towards grazing views.
  const double solid = 1.0 - 0.08 * (aspecular / 110.0);
  return (1.0 - metallic) * solid + metallic * flakes;
}

}  // namespace

std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed) {
  std::uint64_t hash = seed;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  return hash;
}

Paint PaintForMake(std::string_view make) {
  Random random(HashBytes(make));
  Paint paint = kPaints[random.Next() % std::size(kPaints)];
  // Each make is its own shade of its base paint.
  paint.centreNm += (random.Uniform() - 0.5) * 20.0;
  const double scale = 0.9 + 0.2 * random.Uniform();
  paint.floor *= scale;
  paint.peak *= scale;
  paint.metallic = std::clamp(paint.metallic + (random.Uniform() - 0.5) * 0.1, 0.0, 1.0);
  return paint;
}

Reflectance PaintReflectance(const Paint& paint, std::size_t geometry) {
  Reflectance values{};
  if (geometry >= kGeometryCount) return values;
  const double aspecular = std::abs(static_cast<double>(kAspecularAngles[geometry]));
  const double centre = paint.centreNm + paint.travelNm * (aspecular - 15.0) / 95.0;
  const double width = std::max(paint.widthNm, 1.0);
  const double gain = AngularGain(paint.metallic, geometry);
  for (std::size_t i = 0; i < kSpectrumSize; ++i) {
    const double nm = 400.0 + 10.0 * static_cast<double>(i);
    const double band = std::exp(-std::pow((nm - centre) / width, 2.0));
    const double shape = paint.floor + (paint.peak - paint.floor) * band;
    values[i] = static_cast<float>(std::clamp(shape * gain, 0.001, 3.0));
  }
  return values;
}

Reflectance MeasuredReflectance(std::string_view jobId, std::string_view make, int sampleIndex,
                                std::size_t geometry) {
  Reflectance values = PaintReflectance(PaintForMake(make), geometry);
  if (geometry >= kGeometryCount) return values;
  const std::uint64_t jobSeed = HashBytes(make, HashBytes(jobId));
  const std::uint64_t sampleSeed =
      jobSeed ^
      (static_cast<std::uint64_t>(static_cast<std::uint32_t>(sampleIndex)) * 0x9e3779b97f4a7c15ull);
  // One gain per sample, shared by its geometries, and a little per geometry.
  Random sampleRandom(sampleSeed);
  Random geometryRandom(sampleSeed ^ ((geometry + 1) * 0xd1b54a32d192ed03ull));
  const double gain = 1.0 + 0.008 * sampleRandom.Normal() + 0.003 * geometryRandom.Normal();
  for (float& value : values) {
    const double noisy = value * gain * (1.0 + 0.002 * geometryRandom.Normal());
    value = static_cast<float>(std::clamp(noisy, 0.001, 3.0));
  }
  return values;
}

}  // namespace instrument
