#include "client/export/PngPreview.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "colour/ExrCodec.h"

// stb's writer is compiled here with internal linkage, so no other part of a
// program that links this library can collide with its symbols.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace vantorel::exporter {

namespace {

constexpr float kHalfMax = 65504.0f;  // +infinity is shown as this, i.e. white

float CleanChannel(float v) {
  if (std::isnan(v) || v <= 0.0f) return 0.0f;
  return std::min(v, kHalfMax);
}

float Luminance(float r, float g, float b) { return 0.2126f * r + 0.7152f * g + 0.0722f * b; }

std::uint8_t EncodeSrgb(float linear) {
  const float c = std::clamp(linear, 0.0f, 1.0f);
  const float encoded = c <= 0.0031308f ? 12.92f * c : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
  return static_cast<std::uint8_t>(std::lround(std::clamp(encoded, 0.0f, 1.0f) * 255.0f));
}

// The luminance tone-mapping white: 99.9th percentile, at least 1. Reads at
// most about a million pixels so that large images stay cheap.
float WhitePoint(const colour::Image& image) {
  const std::size_t pixels = image.PixelCount();
  const std::size_t stride = std::max<std::size_t>(1, pixels / (1u << 20));
  std::vector<float> samples;
  samples.reserve(pixels / stride + 1);
  for (std::size_t p = 0; p < pixels; p += stride) {
    const float* px = &image.rgb[3 * p];
    samples.push_back(Luminance(CleanChannel(px[0]), CleanChannel(px[1]), CleanChannel(px[2])));
  }
  const std::size_t k = (samples.size() - 1) * 999 / 1000;
  std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(k),
                   samples.end());
  return std::max(1.0f, samples[k]);
}

void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(context);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (size > 0) out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<std::uint8_t> ToneMapToSrgb8(const colour::Image& image) {
  std::vector<std::uint8_t> out;
  if (!image.Valid()) return out;
  const float white = WhitePoint(image);
  const float white2 = white * white;
  const std::size_t pixels = image.PixelCount();
  out.resize(3 * pixels);
  for (std::size_t p = 0; p < pixels; ++p) {
    const float r = CleanChannel(image.rgb[3 * p]);
    const float g = CleanChannel(image.rgb[3 * p + 1]);
    const float b = CleanChannel(image.rgb[3 * p + 2]);
    const float l = Luminance(r, g, b);
    const float scale = l > 0.0f ? (1.0f + l / white2) / (1.0f + l) : 0.0f;
    out[3 * p] = EncodeSrgb(r * scale);
    out[3 * p + 1] = EncodeSrgb(g * scale);
    out[3 * p + 2] = EncodeSrgb(b * scale);
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> PngPreviewFromExr(std::span<const std::uint8_t> exr) try {
  colour::Image image;
  if (!colour::DecodeExr(exr, image) || !image.Valid()) return std::nullopt;
  const std::vector<std::uint8_t> pixels = ToneMapToSrgb8(image);
  // Free the float image before compressing; previews of large images are
  // otherwise held twice.
  const int width = image.width, height = image.height;
  image = colour::Image{};
  std::vector<std::uint8_t> png;
  if (stbi_write_png_to_func(AppendBytes, &png, width, height, 3, pixels.data(), width * 3) == 0 ||
      png.empty()) {
    return std::nullopt;
  }
  return png;
} catch (const std::bad_alloc&) {
  return std::nullopt;
}

}  // namespace vantorel::exporter
