#include "colour/ExrCorrection.h"

#include <cmath>

#include "colour/ExrCodec.h"

namespace colour {
namespace {

bool Finite(const LinearRgb& c) {
  return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b);
}

}  // namespace

bool CorrectImage(Image& image, const LinearRgb& target) {
  if (!image.Valid() || !Finite(target)) return false;
  const LinearRgb mean = MeanColour(image);
  if (!Finite(mean)) return false;
  const double means[3] = {mean.r, mean.g, mean.b};
  const double targets[3] = {target.r, target.g, target.b};
  for (int c = 0; c < 3; ++c) {
    const bool scalable = std::fabs(means[c]) > 1e-9;
    const double scale = scalable ? targets[c] / means[c] : 0.0;
    for (std::size_t i = static_cast<std::size_t>(c); i < image.rgb.size(); i += 3) {
      image.rgb[i] = static_cast<float>(scalable ? image.rgb[i] * scale : targets[c]);
    }
  }
  return true;
}

bool CorrectExr(std::span<const std::uint8_t> in, std::span<const float> spectrum,
                std::vector<std::uint8_t>& out) {
  out.clear();
  if (spectrum.size() != kSpectrumSize) return false;
  for (float v : spectrum) {
    if (!std::isfinite(v)) return false;
  }
  Image image;
  if (!DecodeExr(in, image)) return false;
  const LinearRgb target = SpectrumToLinearSrgb(SpectrumView(spectrum.data(), kSpectrumSize));
  if (!CorrectImage(image, target)) return false;
  out = EncodeExr(image);
  return !out.empty();
}

}  // namespace colour
