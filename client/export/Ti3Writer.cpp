#include "client/export/Ti3Writer.h"

#include <cmath>

#include "client/export/TextFormat.h"

namespace vantorel::exporter {

std::string ToTi3(const ExportRequest& request, const GeometryInfo& geometry,
                  const VantorelMeasurements& values) {
  for (float v : values.spectrum) {
    if (!std::isfinite(v)) return {};
  }
  const auto created = request.created.value_or(std::chrono::system_clock::now());
  std::string out = "CTI3\n\n";
  out += "DESCRIPTOR \"" + CgatsText(request.job) + " " + geometry.name + "\"\n";
  out += "ORIGINATOR \"vantorelctl\"\n";
  out += "CREATED \"" + IsoUtcTime(created) + "\"\n";
  out += "KEYWORD \"MEASUREMENT_GEOMETRY\"\n";
  out += "MEASUREMENT_GEOMETRY \"" + geometry.name + "\"\n";
  if (request.sampleIndex) {
    out += "KEYWORD \"SAMPLE_INDEX\"\n";
    out += "SAMPLE_INDEX \"" + std::to_string(*request.sampleIndex) + "\"\n";
  } else if (const std::optional<std::size_t> count = SampleCountOf(request)) {
    out += "KEYWORD \"SAMPLE_COUNT\"\n";
    out += "SAMPLE_COUNT \"" + std::to_string(*count) + "\"\n";
  }
  out += "DEVICE_CLASS \"OUTPUT\"\n";
  out += "SPECTRAL_BANDS \"" + std::to_string(kSpectrumValueCount) + "\"\n";
  out += "SPECTRAL_START_NM \"" + FormatFixed(kFirstWavelengthNm, 1) + "\"\n";
  out += "SPECTRAL_END_NM \"" + FormatFixed(kLastWavelengthNm, 1) + "\"\n";
  out += "SPECTRAL_NORM \"100.0\"\n\n";

  out += "NUMBER_OF_FIELDS " + std::to_string(1 + kSpectrumValueCount) + "\n";
  out += "BEGIN_DATA_FORMAT\nSAMPLE_ID";
  for (std::size_t i = 0; i < kSpectrumValueCount; ++i) {
    out += " SPEC_" + std::to_string(WavelengthNm(i));
  }
  out += "\nEND_DATA_FORMAT\n\n";
  out += "NUMBER_OF_SETS 1\nBEGIN_DATA\n1";
  for (float v : values.spectrum) {
    out += ' ';
    out += FormatFixed(static_cast<double>(v) * 100.0, 4);
  }
  out += "\nEND_DATA\n";
  return out;
}

}  // namespace vantorel::exporter
