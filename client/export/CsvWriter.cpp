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

std::string ToLabCsv(const VantorelMeasurementsFull* data) {
  std::string out = "geometry,L,a,b\n";
  for (const MeasuredGeometry& entry : MeasuredGeometries(data)) {
    out += entry.geometry.name;
    for (float v : entry.values->lab) {
      out += ',';
      out += FormatFixed(v, 4);
    }
    out += '\n';
  }
  return out;
}

}  // namespace vantorel::exporter
