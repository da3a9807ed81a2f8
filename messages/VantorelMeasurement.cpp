#include "messages/VantorelMeasurement.h"

#include "messages/MeasurementGeometry.h"

static_assert(kMeasurementGeometries.size() == kSpectrumAngleCount,
              "one table entry per SpectrumAngle enumerator, in enumerator order");

std::optional<SpectrumAngle> FindGeometry(const std::string& name) {
  for (std::size_t i = 0; i < kMeasurementGeometries.size(); ++i) {
    if (name == kMeasurementGeometries[i].name) return static_cast<SpectrumAngle>(i);
  }
  return std::nullopt;
}

SpectrumAngle GeometryToAngle(const std::string& name) {
  return FindGeometry(name).value_or(R15As15);
}

bool IsListedGeometry(const std::string& name) { return FindGeometry(name).has_value(); }

const char* AngleToGeometry(SpectrumAngle angle) {
  if (!IsListedAngle(angle)) return nullptr;
  return kMeasurementGeometries[static_cast<std::size_t>(angle)].name;
}
