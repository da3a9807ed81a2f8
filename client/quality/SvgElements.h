// SvgElements: the small pieces the quality charts (qc.svg, the trend, the
// report page's pictures) are written with, so that they format numbers and
// escape text alike.
//
// Threads: pure functions.
#pragma once

#include <cmath>
#include <string>

#include "client/export/TextFormat.h"

namespace vantorel::quality::svg {

// A coordinate with two decimals, '.' whatever the locale.
inline std::string Num(double v) { return exporter::FormatFixed(v, 2); }

// A <text> element; `text` is escaped here, `extra` holds further attributes
// (starting with a blank) and is written as it is.
inline std::string Text(double x, double y, const std::string& anchor, const std::string& text,
                        const std::string& extra = "") {
  return "  <text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" + anchor + "\"" +
         extra + ">" + exporter::XmlEscape(text) + "</text>\n";
}

inline std::string Line(double x1, double y1, double x2, double y2, const std::string& style) {
  return "  <line x1=\"" + Num(x1) + "\" y1=\"" + Num(y1) + "\" x2=\"" + Num(x2) + "\" y2=\"" +
         Num(y2) + "\" " + style + "/>\n";
}

// A round step (1, 2 or 5 times a power of ten) giving 4 to 10 grid lines
// over `range` (> 0, finite).
inline double Step(double range) {
  const double raw = range / 6.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * magnitude >= raw) return factor * magnitude;
  }
  return 10.0 * magnitude;
}

// Colours of the marks: within tolerance, outside it, the tolerance line.
inline constexpr const char* kPassColour = "#2e7d32";
inline constexpr const char* kFailColour = "#c62828";
inline constexpr const char* kToleranceColour = "#b71c1c";

}  // namespace vantorel::quality::svg
