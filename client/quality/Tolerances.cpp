#include "client/quality/Tolerances.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace vantorel::quality {

double Tolerances::For(std::string_view geometry) const {
  const auto it = perGeometry.find(geometry);
  return it == perGeometry.end() ? fallback : it->second;
}

bool ParseTolerance(std::string_view text, double& tolerance) {
  if (text.empty()) return false;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (!std::isfinite(value) || value < 0.0) return false;
  tolerance = value;
  return true;
}

bool ParseTolerances(std::string_view text, Tolerances& tolerances, std::string& error) {
  tolerances = Tolerances{};
  bool fallbackSet = false;
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (const auto hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    const auto separator = [](char c) {
      return c == ' ' || c == '\t' || c == '\r' || c == ',' || c == '=';
    };
    while (i < line.size()) {
      while (i < line.size() && separator(line[i])) ++i;
      const std::size_t start = i;
      while (i < line.size() && !separator(line[i])) ++i;
      if (i > start) fields.push_back(line.substr(start, i - start));
    }
    if (fields.empty()) continue;
    const std::string where = "tolerance file line " + std::to_string(lineNumber);
    double value = 0.0;
    if (fields.size() != 2) {
      error = where + ": expected a geometry and a tolerance";
      return false;
    }
    if (!ParseTolerance(fields[1], value)) {
      error = where + ": \"" + std::string(fields[1]) + "\" is not a tolerance (a number >= 0)";
      return false;
    }
    if (fields[0] == "*") {
      if (fallbackSet) {
        error = where + ": \"*\" is given twice";
        return false;
      }
      fallbackSet = true;
      tolerances.fallback = value;
    } else if (!tolerances.perGeometry.emplace(std::string(fields[0]), value).second) {
      error = where + ": geometry " + std::string(fields[0]) + " is given twice";
      return false;
    }
  }
  return true;
}

}  // namespace vantorel::quality
