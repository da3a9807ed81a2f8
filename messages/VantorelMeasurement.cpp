#include "messages/VantorelMeasurement.h"

#include <array>
#include <string_view>

namespace {

// Indexed by SpectrumAngle: position in this list is the enumerator's value.
constexpr std::array<std::string_view, kSpectrumAngleCount> kGeometryNames = {
    "r15as-45", "r15as-15", "r15as15", "r15as45", "r15as80",  "r45as-15",
    "r45as15",  "r45as25",  "r45as45", "r45as75", "r45as110",
};

}  // namespace

std::optional<SpectrumAngle> FindGeometry(const std::string& name) {
  for (std::size_t i = 0; i < kGeometryNames.size(); ++i) {
    if (name == kGeometryNames[i]) return static_cast<SpectrumAngle>(i);
  }
  return std::nullopt;
}

SpectrumAngle GeometryToAngle(const std::string& name) {
  return FindGeometry(name).value_or(R15As15);
}

bool IsListedGeometry(const std::string& name) { return FindGeometry(name).has_value(); }

const char* AngleToGeometry(SpectrumAngle angle) {
  if (!IsListedAngle(angle)) return nullptr;
  // The views point at string literals, so data() is zero-terminated.
  return kGeometryNames[static_cast<std::size_t>(angle)].data();
}
