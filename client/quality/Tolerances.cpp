#include "client/quality/Tolerances.h"

#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include "messages/VantorelMeasurement.h"

namespace vantorel::quality {

double Tolerances::For(std::string_view geometry) const {
  const auto it = perGeometry.find(geometry);
  return it == perGeometry.end() ? fallback : it->second;
}

namespace {

// "r15as-45, r15as-15, ..., r45as110": the names a tolerance file may use.
std::string GeometryList() {
  std::string list;
  for (int a = R15As_45; a <= R45As110; ++a) {
    if (!list.empty()) list += ", ";
    list += AngleToGeometry(static_cast<SpectrumAngle>(a));
  }
  return list;
}

}  // namespace

bool ParseTolerance(std::string_view text, double& tolerance) {
  if (text.empty()) return false;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (!std::isfinite(value) || value < 0.0) return false;
  tolerance = value;
  return true;
}

bool ParseTolerances(std::string_view text, const std::string& file, Tolerances& tolerances,
                     std::string& error) {
  tolerances = Tolerances{};
  std::size_t pairs = 0;
  int lineNumber = 0;
  std::map<std::string, int, std::less<>> firstLine;  // geometry -> line it was given on
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
    const std::string where = file + ":" + std::to_string(lineNumber) + ": ";
    if (fields.size() != 2) {
      error = where + "expected a geometry and a tolerance, as in \"r45as15 2.0\"";
      return false;
    }
    const std::string geometry(fields[0]);
    if (geometry != "*" && !IsListedGeometry(geometry)) {
      error = where + "\"" + geometry + "\" is not a geometry; the geometries are " +
              GeometryList() + " (as written, lower case), or * for every geometry not listed";
      return false;
    }
    double value = 0.0;
    if (!ParseTolerance(fields[1], value)) {
      error = where + "\"" + std::string(fields[1]) +
              "\" is not a tolerance: give a number of 0 or more, such as 1.0";
      return false;
    }
    if (const auto first = firstLine.find(geometry); first != firstLine.end()) {
      error = where + (geometry == "*" ? std::string("\"*\"") : geometry) +
              " is given twice (first on line " + std::to_string(first->second) + ")";
      return false;
    }
    firstLine.emplace(geometry, lineNumber);
    ++pairs;
    if (geometry == "*") {
      tolerances.fallback = value;
    } else {
      tolerances.perGeometry.emplace(geometry, value);
    }
  }
  if (pairs == 0) {
    error = file + ":1: the file holds no tolerance; give one \"GEOMETRY TOLERANCE\" pair per " +
            "line, such as \"r45as15 2.0\", and \"* 1.0\" for the rest";
    return false;
  }
  return true;
}

}  // namespace vantorel::quality
