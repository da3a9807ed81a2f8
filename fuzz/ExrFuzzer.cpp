// Fuzz target: the EXR decoding behind the instrument's image correction
// (DecodeExr, then CorrectExr), over an exact-size copy of the file bytes.
//
// Input: the bytes of a supposed EXR file.
//
// Properties: a decoded image is valid (dimensions in range, three floats per
// pixel); a correction either fails leaving its output empty, or produces a
// file that decodes again to an image of the same dimensions.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "colour/ExrCodec.h"
#include "colour/ExrCorrection.h"
#include "fuzz/FuzzInput.h"

namespace {

// A plausible reflectance: a warm colour, rising towards the long waves.
std::array<float, 31> Spectrum() {
  std::array<float, 31> values{};
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = 0.05f + 0.02f * static_cast<float>(i);
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ExactCopy copy(data, size);
  const std::span<const std::uint8_t> bytes(copy.Data(), copy.Size());

  colour::Image image;
  const bool decoded = colour::DecodeExr(bytes, image);
  if (!decoded) {
    fuzz::Require(image.width == 0 && image.height == 0 && image.rgb.empty(),
                  "failed decode left an image behind");
  } else {
    fuzz::Require(image.Valid(), "decoded image is not valid");
  }

  static const std::array<float, 31> spectrum = Spectrum();
  std::vector<std::uint8_t> corrected = {0xAA};
  const bool ok = colour::CorrectExr(bytes, spectrum, corrected);
  if (!ok) {
    fuzz::Require(corrected.empty(), "failed correction left output behind");
    return 0;
  }
  fuzz::Require(decoded, "a file that does not decode was corrected");
  colour::Image again;
  fuzz::Require(colour::DecodeExr(corrected, again), "corrected file does not decode");
  fuzz::Require(again.width == image.width && again.height == image.height,
                "correction changed the image size");
  return 0;
}
