#include "colour/Image.h"

namespace colour {

LinearRgb MeanColour(const Image& image) {
  if (!image.Valid()) return {};
  double sum[3] = {0.0, 0.0, 0.0};
  for (std::size_t i = 0; i < image.rgb.size(); i += 3) {
    sum[0] += image.rgb[i];
    sum[1] += image.rgb[i + 1];
    sum[2] += image.rgb[i + 2];
  }
  const double n = static_cast<double>(image.PixelCount());
  return {sum[0] / n, sum[1] / n, sum[2] / n};
}

}  // namespace colour
