#include "client/export/ResultGeometry.h"

#include <charconv>
#include <string_view>

#include "messages/VantorelMeasurement.h"

namespace vantorel::exporter {

namespace {

// Reads the signed integer at the start of `text`; advances past it.
bool TakeInt(std::string_view& text, int& out) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, out);
  if (ec != std::errc{}) return false;
  text.remove_prefix(static_cast<std::size_t>(ptr - text.data()));
  return true;
}

}  // namespace

std::optional<GeometryInfo> DescribeGeometry(SpectrumAngle angle) {
  const char* name = AngleToGeometry(angle);
  if (name == nullptr) return std::nullopt;
  // The names have the form r<incidence>as<aspecular>, so the angles are
  // read from the one table the whole product uses.
  std::string_view text(name);
  GeometryInfo info;
  info.angle = angle;
  info.name = name;
  if (!text.starts_with('r')) return std::nullopt;
  text.remove_prefix(1);
  if (!TakeInt(text, info.incidenceDeg) || !text.starts_with("as")) return std::nullopt;
  text.remove_prefix(2);
  if (!TakeInt(text, info.aspecularDeg) || !text.empty()) return std::nullopt;
  return info;
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
