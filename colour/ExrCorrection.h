// ExrCorrection: brings an image's mean colour to the colour of a spectrum.
//
// The correction scales each linear sRGB channel of the image by one factor,
// so that the mean colour becomes the target while the texture (relative
// variation of every channel) stays. A channel whose mean is zero (|mean| <=
// 1e-9) cannot be scaled and is filled with the target value instead.
//
// Threads: no shared state; calls may run concurrently.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "colour/Colorimetry.h"
#include "colour/Image.h"

namespace colour {

// Scales `image` in place to the mean colour `target`. Returns false, leaving
// the image unchanged, when the image is invalid or its mean or the target is
// not finite.
bool CorrectImage(Image& image, const LinearRgb& target);

// Decodes the EXR bytes `in` (DecodeExr's rules), corrects the image to the
// linear sRGB colour of `spectrum` (SpectrumToLinearSrgb) and encodes the
// result into `out` (EncodeExr's format: half RGB, ZIP). `out` is cleared
// first and stays empty on failure: undecodable input, a spectrum that is not
// exactly 31 finite values, an image with non-finite mean, or a failed
// encode. Half-precision rounding and the clamp to the half range apply to
// the output.
bool CorrectExr(std::span<const std::uint8_t> in, std::span<const float> spectrum,
                std::vector<std::uint8_t>& out);

}  // namespace colour
