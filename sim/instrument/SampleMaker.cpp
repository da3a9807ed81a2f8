#include "sim/instrument/SampleMaker.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "colour/Colorimetry.h"
#include "colour/ExrCodec.h"
#include "sim/instrument/PaintModel.h"
#include "sim/instrument/SimConfig.h"
#include "sim/instrument/SparkleImage.h"

namespace instrument {
namespace {

// Flakes sparkle most near the specular direction and fade towards the flop;
// a solid paint shows only grain.
SparkleEffect EffectFor(const Paint& paint, std::size_t geometry) {
  const double aspecular =
      std::abs(static_cast<double>(kMeasurementGeometries[geometry].aspecularDeg));
  const double nearness = std::exp(-(aspecular - 15.0) / 40.0);
  SparkleEffect effect;
  effect.density = std::clamp(0.001 + 0.007 * paint.metallic, 0.0, 0.25);
  effect.intensity = std::clamp(1.0 + 9.0 * paint.metallic * nearness, 0.0, 1000.0);
  effect.grain = 0.05 + 0.05 * paint.metallic;
  return effect;
}

}  // namespace

SamplePtr MakeSample(std::string_view jobId, std::string_view make, int sampleIndex, int imagePx,
                     std::int64_t measuredAtMs) {
  try {
    auto sample = std::make_shared<MeasuredSample>();
    sample->measuredAtMs = measuredAtMs;
    for (std::size_t g = 0; g < kGeometryCount; ++g) {
      sample->spectra[g] = MeasuredReflectance(jobId, make, sampleIndex, g);
      const colour::Lab lab = colour::SpectrumToLab(sample->spectra[g]);
      sample->lab[g] = {static_cast<float>(lab.l), static_cast<float>(lab.a),
                        static_cast<float>(lab.b)};
    }
    if (imagePx >= kMinImagePx && imagePx <= kMaxImagePx) {
      const Paint paint = PaintForJob(jobId, make);
      const std::uint64_t jobSeed = HashBytes(make, HashBytes(jobId));
      for (std::size_t i = 0; i < kImageCount; ++i) {
        const std::size_t g = kImageGeometries[i];
        const std::uint64_t seed =
            jobSeed ^ (static_cast<std::uint64_t>(static_cast<std::uint32_t>(sampleIndex)) << 8) ^
            (g * 0x9e3779b97f4a7c15ull);
        const colour::Image image = MakeSparkleImage(
            imagePx, colour::SpectrumToLinearSrgb(sample->spectra[g]), seed, EffectFor(paint, g));
        sample->exr[i] = colour::EncodeExr(image);
      }
    }
    return sample;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace instrument
