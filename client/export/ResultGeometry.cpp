#include "client/export/ResultGeometry.h"

#include "messages/MeasurementGeometry.h"

namespace vantorel::exporter {

std::optional<GeometryInfo> DescribeGeometry(SpectrumAngle angle) {
  if (!IsListedAngle(angle)) return std::nullopt;
  const MeasurementGeometry& geometry = kMeasurementGeometries[static_cast<std::size_t>(angle)];
  return GeometryInfo{angle, geometry.name, geometry.illuminationDeg, geometry.aspecularDeg};
}

std::vector<MeasuredGeometry> MeasuredGeometries(const VantorelMeasurementsFull* data) {
  std::vector<MeasuredGeometry> out;
  if (data == nullptr) return out;
  for (const auto& [angle, values] : data->measurements) {
    if (auto info = DescribeGeometry(angle)) out.push_back({std::move(*info), &values});
  }
  return out;
}

std::size_t UnlistedKeyCount(const VantorelMeasurementsFull& data) {
  std::size_t count = 0;
  for (const auto& entry : data.measurements) count += IsListedAngle(entry.first) ? 0 : 1;
  for (const auto& entry : data.images) count += IsListedAngle(entry.first) ? 0 : 1;
  return count;
}

}  // namespace vantorel::exporter
