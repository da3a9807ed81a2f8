// Image: a float RGB raster in linear sRGB, the in-memory form of every image
// this library makes, decodes, corrects or measures.
//
// Pixels are interleaved R, G, B, row after row from the top, so pixel (x, y)
// starts at rgb[3 * (y * width + x)]. An image is valid when width and height
// are positive and rgb holds exactly 3 * width * height values; the empty
// image (0 x 0, no values) is what failed operations leave behind.
//
// Threads: a plain value; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "colour/Colorimetry.h"

namespace colour {

// Largest side and pixel count this library makes or accepts from a file.
inline constexpr int kMaxImageSide = 8192;
inline constexpr std::uint64_t kMaxImagePixels = 64ull * 1024 * 1024;

struct Image {
  int width = 0;
  int height = 0;
  std::vector<float> rgb;

  // True when the dimensions are within the limits above and rgb has the
  // matching size.
  bool Valid() const {
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return false;
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return pixels <= kMaxImagePixels && rgb.size() == 3 * pixels;
  }
  std::size_t PixelCount() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }
};

// Mean colour over all pixels, summed in double. Zero for an invalid image.
LinearRgb MeanColour(const Image& image);

}  // namespace colour
