#include "client/export/CsvWriter.h"

#include "client/export/ResultGeometry.h"
#include "client/export/TextFormat.h"

namespace vantorel::exporter {

std::string ToSpectraCsv(const VantorelMeasurementsFull* data) {
  std::string out = "geometry";
  for (std::size_t i = 0; i < kSpectrumValueCount; ++i) {
    out += ',';
    out += std::to_string(WavelengthNm(i));
  }
  out += '\n';
  for (const MeasuredGeometry& entry : MeasuredGeometries(data)) {
    out += entry.geometry.name;
    for (float v : entry.values->spectrum) {
      out += ',';
      out += FormatFixed(v, 6);
    }
    out += '\n';
  }
  return out;
}

std::string ToLabCsv(const ExportRequest& request) {
  std::string out = "geometry,L,a,b,samples,stdev_L,stdev_a,stdev_b,range_L,range_a,range_b\n";
  const std::optional<std::size_t> samples = SampleCountOf(request);
  const auto optional = [&](const std::optional<double>& v) {
    out += ',';
    if (v) out += FormatFixed(*v, 4);
  };
  for (const MeasuredGeometry& entry : MeasuredGeometries(request.data)) {
    out += entry.geometry.name;
    for (float v : entry.values->lab) {
      out += ',';
      out += FormatFixed(v, 4);
    }
    out += ',';
    if (samples) out += std::to_string(*samples);
    const LabSpread* spread = SpreadOf(request, entry.geometry.angle);
    for (const auto member : {&LabSpread::stdev, &LabSpread::range}) {
      for (std::size_t c = 0; c < 3; ++c) optional(spread ? (spread->*member)[c] : std::nullopt);
    }
    out += '\n';
  }
  return out;
}

}  // namespace vantorel::exporter
