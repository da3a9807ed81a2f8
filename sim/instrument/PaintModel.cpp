#include "sim/instrument/PaintModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace instrument {
namespace {

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

// Angular gains relative to the body colour at 45° aspecular, by distance
// from the specular direction in degrees (15 the nearest geometry, 110 the
// flop). A solid paint keeps its colour at every angle, with a trace of
// gloss near the specular direction.
double SolidGain(double aspecular) {
  return 1.0 + 0.06 * std::exp(-(aspecular - 15.0) / 12.0) - 0.03 * (aspecular - 45.0) / 95.0;
}

// Aluminium flakes: a steep fall from near-specular (about 2.4 times white)
// to the flop (under a tenth), the flop of silver metallics in the field.
double MetallicGain(double aspecular) {
  return 2.05 * std::exp(-(aspecular - 15.0) / 10.0) + 0.35 * std::exp(-(aspecular - 15.0) / 60.0);
}

// Interference pigment: a softer fall.
double PearlGain(double aspecular) {
  return 0.667 * std::exp(-(aspecular - 15.0) / 14.0) +
         0.889 * std::exp(-(aspecular - 15.0) / 135.0);
}

double BodyShapeAt(const BodyColour& body, double nm) {
  const double width = std::max(std::abs(body.widthNm), 1.0);
  switch (body.shape) {
    case BodyShape::kFlat:
      return 0.0;
    case BodyShape::kRise:
      return 1.0 / (1.0 + std::exp(-(nm - body.centreNm) / width));
    case BodyShape::kFall:
      return 1.0 / (1.0 + std::exp((nm - body.centreNm) / width));
    case BodyShape::kBand:
      return std::exp(-std::pow((nm - body.centreNm) / width, 2.0));
  }
  return 0.0;
}

Paint PaintOfChoice(const PaintChoice& choice) {
  Paint paint;
  paint.body = BodyOf(choice.colour);
  paint.kind = choice.kind;
  switch (choice.kind) {
    case PaintKind::kSolid:
      paint.flakes = 0.0;
      paint.metallic = 0.0;
      break;
    case PaintKind::kMetallic:
      paint.flakes = 0.97;
      paint.metallic = 0.9;
      break;
    case PaintKind::kPearl:
      paint.flakes = 0.95;
      paint.metallic = 0.45;
      paint.travelNm = 14.0;
      paint.tint = 0.05;
      break;
  }
  return paint;
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
  Paint paint = PaintOfChoice(ChoosePaint(make));
  // Each make is its own shade of its colour; makes that name no colour
  // spread wider.
  Random random(HashBytes(make, 0x6d616b65ull));
  const double spread = ChoosePaint(make).named ? 1.0 : 3.0;
  paint.lightness *= 1.0 + spread * 0.03 * (random.Uniform() - 0.5);
  paint.body.centreNm += spread * 4.0 * (random.Uniform() - 0.5);
  return paint;
}

Paint PaintForJob(std::string_view jobId, std::string_view make) {
  Paint paint = PaintForMake(make);
  // A batch differs from another of its make in lightness, hue and flake
  // share, as production batches do: by a ΔE00 of tenths to about 2.
  Random random(HashBytes(make, HashBytes(jobId, 0x6a6f62ull)));
  paint.lightness *= 1.0 + 0.01 * random.Normal();
  paint.tilt = 0.012 * random.Normal();
  paint.body.low += 0.0008 * random.Normal();
  paint.body.centreNm += 0.8 * random.Normal();
  paint.body.high += (paint.body.high - paint.body.low) * 0.02 * random.Normal();
  paint.flakes = std::clamp(paint.flakes + 0.006 * random.Normal(), 0.0, 1.0);
  return paint;
}

Reflectance PaintReflectance(const Paint& paint, std::size_t geometry) {
  Reflectance values{};
  if (geometry >= kGeometryCount) return values;
  const double aspecular =
      std::abs(static_cast<double>(kMeasurementGeometries[geometry].aspecularDeg));
  // Flakes lie mostly parallel to the surface: steep illumination sees a
  // few more of them.
  const double illumination = kMeasurementGeometries[geometry].illuminationDeg == 15 ? 1.04 : 1.0;
  double effect = 0.0;
  if (paint.kind == PaintKind::kMetallic) effect = MetallicGain(aspecular) * illumination;
  if (paint.kind == PaintKind::kPearl) effect = PearlGain(aspecular) * illumination;
  const double gain =
      paint.lightness * ((1.0 - paint.flakes) * SolidGain(aspecular) + paint.flakes * effect);
  // Where the view is on the travel from near-specular (0) to flop (1).
  const double travel = (aspecular - 15.0) / 95.0;
  BodyColour body = paint.body;
  body.centreNm += paint.travelNm * (travel - 0.5);
  for (std::size_t i = 0; i < kSpectrumSize; ++i) {
    const double nm = 400.0 + 10.0 * static_cast<double>(i);
    double shape = (body.low + (body.high - body.low) * BodyShapeAt(body, nm)) *
                   (1.0 + paint.tilt * (nm - 550.0) / 150.0);
    if (paint.tint != 0.0) {
      shape *= 1.0 + paint.tint * std::sin(2.0 * std::numbers::pi * (nm - 400.0) / 300.0 +
                                           std::numbers::pi * travel);
    }
    values[i] = static_cast<float>(std::clamp(shape * gain, 0.001, 3.0));
  }
  return values;
}

Reflectance MeasuredReflectance(std::string_view jobId, std::string_view make, int sampleIndex,
                                std::size_t geometry) {
  Reflectance values = PaintReflectance(PaintForJob(jobId, make), geometry);
  if (geometry >= kGeometryCount) return values;
  const std::uint64_t jobSeed = HashBytes(make, HashBytes(jobId));
  const std::uint64_t sampleSeed =
      jobSeed ^
      (static_cast<std::uint64_t>(static_cast<std::uint32_t>(sampleIndex)) * 0x9e3779b97f4a7c15ull);
  // One gain per sample, shared by its geometries, and a little per geometry.
  Random sampleRandom(sampleSeed);
  Random geometryRandom(sampleSeed ^ ((geometry + 1) * 0xd1b54a32d192ed03ull));
  const double gain = 1.0 + 0.0015 * sampleRandom.Normal() + 0.0005 * geometryRandom.Normal();
  for (float& value : values) {
    const double noisy = value * gain * (1.0 + 0.0005 * geometryRandom.Normal());
    value = static_cast<float>(std::clamp(noisy, 0.001, 3.0));
  }
  return values;
}

}  // namespace instrument
