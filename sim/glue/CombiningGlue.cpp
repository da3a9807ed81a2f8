#include "sim/glue/CombiningGlue.h"

#include "colour/ExrCodec.h"
#include "colour/TextureStats.h"

void CombiningGlue::AddSample(VantorelMeasurementsFull* records) {
  if (records == nullptr) return;
  for (const auto& [angle, record] : records->measurements) {
    Sums& sum = sums[angle];
    if (sum.count == 0) sum.index = record.index;
    ++sum.count;
    for (std::size_t i = 0; i < kSpectrumValueCount; ++i) sum.spectrum[i] += record.spectrum[i];
    for (std::size_t i = 0; i < 3; ++i) sum.lab[i] += record.lab[i];
  }
  for (const auto& [angle, image] : records->images) {
    firstImages.try_emplace(angle, image);  // later samples' images are not kept
  }
  ++samples;
}

void CombiningGlue::FillResult(VantorelMeasurementsFull* records) {
  if (records == nullptr) return;
  records->measurements.clear();
  records->images.clear();
  for (const auto& [angle, sum] : sums) {
    VantorelMeasurements mean{};
    mean.index = sum.index;
    mean.angle = angle;
    for (std::size_t i = 0; i < kSpectrumValueCount; ++i) {
      mean.spectrum[i] = static_cast<float>(sum.spectrum[i] / sum.count);
    }
    for (std::size_t i = 0; i < 3; ++i) mean.lab[i] = static_cast<float>(sum.lab[i] / sum.count);
    records->measurements.emplace(angle, mean);
  }
  for (const auto& [angle, image] : firstImages) {
    VantorelImage result = image;
    colour::Image decoded;
    const auto stats = colour::DecodeExr(result.exr, decoded)
                           ? colour::TextureStats(decoded)
                           : std::array<double, colour::kTextureValueCount>{};
    for (int i = 0; i < colour::kTextureValueCount; ++i) result.texture.values[i] = stats[i];
    records->images.emplace(angle, std::move(result));
  }
}

void CombiningGlue::SampleRead(VantorelMeasurementsFull*) {}

void CombiningGlue::ResultReady(VantorelMeasurementsFull*) {
  sums.clear();
  firstImages.clear();
  samples = 0;
}
