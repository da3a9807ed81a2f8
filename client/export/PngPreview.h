// PngPreview: an 8-bit sRGB PNG preview of an EXR image, for people and
// file browsers that cannot show EXR.
//
// The EXR holds linear sRGB where 1.0 is the perfect white diffuser. The
// preview keeps that scale: luminance is tone-mapped with the extended
// Reinhard curve whose white point is the 99.9th percentile of the image's
// luminance (but at least 1.0), so an image within 0..1 is shown unchanged
// and glints above white are compressed instead of clipped; then colours are
// clipped to 0..1 and sRGB-encoded. NaN and negative values show as black,
// +infinity as white.
//
// The EXR bytes are untrusted: decoding is colour::DecodeExr's, which rejects
// rather than guesses and never reads outside the bytes.
//
// Threads: pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "colour/Image.h"

namespace vantorel::exporter {

// The tone-mapped image as interleaved 8-bit sRGB, 3 * width * height
// bytes, top row first. Empty for an invalid image.
std::vector<std::uint8_t> ToneMapToSrgb8(const colour::Image& image);

// PNG file bytes of the preview of the EXR `exr`, or nothing when the bytes
// cannot be decoded (or memory runs out).
std::optional<std::vector<std::uint8_t>> PngPreviewFromExr(std::span<const std::uint8_t> exr);

}  // namespace vantorel::exporter
