#include "client/quality/QcSide.h"

#include <cmath>

#include "client/export/ResultGeometry.h"

namespace vantorel::quality {

const GeometryLab* QcSide::Find(const std::string& geometry) const {
  for (const GeometryLab& value : values) {
    if (value.geometry == geometry) return &value;
  }
  return nullptr;
}

bool AddValue(SideRead& read, GeometryLab value) {
  if (!read.error.empty()) return false;
  if (read.side.Find(value.geometry) != nullptr) {
    read.ok = false;
    read.error = read.side.source + " holds more than one L*a*b* value for geometry " +
                 value.geometry + "; compare needs one value per geometry";
    return false;
  }
  if (!std::isfinite(value.lab.l) || !std::isfinite(value.lab.a) || !std::isfinite(value.lab.b)) {
    read.warnings.push_back(read.side.source + ": the L*a*b* value of " + value.geometry +
                            " is not a finite number; geometry skipped");
    return true;
  }
  read.side.values.push_back(std::move(value));
  return true;
}

SideRead SideFromMeasurement(const VantorelMeasurementsFull& data, const std::string& source) {
  SideRead read;
  read.side.source = source;
  read.side.kind = "instrument";
  for (const exporter::MeasuredGeometry& entry : exporter::MeasuredGeometries(&data)) {
    const auto& lab = entry.values->lab;
    if (!AddValue(read, {entry.geometry.name, {lab[0], lab[1], lab[2]}})) return read;
  }
  read.ok = true;
  return read;
}

}  // namespace vantorel::quality
