#include "client/export/SvgPlot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "client/export/ResultGeometry.h"
#include "client/export/TextFormat.h"

namespace vantorel::exporter {

namespace {

constexpr double kWidth = 980, kHeight = 600;
constexpr double kLeft = 80, kTop = 60, kRight = kWidth - 210, kBottom = kHeight - 70;

// Eleven well-separated colours, indexed by SpectrumAngle.
constexpr std::array<const char*, kSpectrumAngleCount> kPalette = {
    "#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b",
    "#e377c2", "#555555", "#bcbd22", "#17becf", "#000000",
};

struct Axis {
  double lo = 0, hi = 100, step = 10;
  int decimals = 0;
};

// A y axis from `lo` to `hi` (percent) with 4 to 10 grid steps of 1, 2, 2.5
// or 5 times a power of ten.
Axis MakeAxis(double lo, double hi) {
  Axis axis;
  const double raw = (hi - lo) / 8.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
    axis.step = factor * magnitude;
    if (axis.step >= raw) break;
  }
  axis.lo = std::floor(lo / axis.step) * axis.step;
  axis.hi = std::ceil(hi / axis.step) * axis.step;
  axis.decimals = axis.step >= 1.0 ? (std::fmod(axis.step, 1.0) == 0.0 ? 0 : 1)
                                   : static_cast<int>(std::ceil(-std::log10(axis.step))) + 1;
  return axis;
}

double X(double nm) {
  return kLeft +
         (nm - kFirstWavelengthNm) / (kLastWavelengthNm - kFirstWavelengthNm) * (kRight - kLeft);
}

double Y(const Axis& axis, double percent) {
  return kBottom - (percent - axis.lo) / (axis.hi - axis.lo) * (kBottom - kTop);
}

std::string Num(double v) { return FormatFixed(v, 2); }

void Text(std::string& out, double x, double y, const std::string& anchor, const std::string& text,
          const std::string& extra = "") {
  out += "  <text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" + anchor + "\"" +
         extra + ">" + text + "</text>\n";
}

void Line(std::string& out, double x1, double y1, double x2, double y2, const std::string& style) {
  out += "  <line x1=\"" + Num(x1) + "\" y1=\"" + Num(y1) + "\" x2=\"" + Num(x2) + "\" y2=\"" +
         Num(y2) + "\" " + style + "/>\n";
}

// The line of a geometry. Mirrored geometries (r15as-15 and r15as15, ...)
// reflect almost alike, so their curves lie on top of each other: the
// negative aspecular angles are dotted (15 degree illumination) or dash-dotted
// (45 degree) and drawn last, so that the curve beneath shows between the
// dots in its own colour. Positive angles: solid for 15 degree illumination,
// dashed for 45 degree.
enum class Stroke { kSolid, kDashed, kDotted, kDashDotted };

Stroke StrokeOf(const GeometryInfo& g) {
  if (g.aspecularDeg < 0) return g.incidenceDeg == 15 ? Stroke::kDotted : Stroke::kDashDotted;
  return g.incidenceDeg == 15 ? Stroke::kSolid : Stroke::kDashed;
}

std::string StrokeStyle(const GeometryInfo& g) {
  std::string style = std::string("stroke=\"") + GeometryColour(g.angle) + "\"";
  switch (StrokeOf(g)) {
    case Stroke::kSolid:
      return style + " stroke-width=\"2\"";
    case Stroke::kDashed:
      return style + " stroke-width=\"2\" stroke-dasharray=\"10 5\"";
    case Stroke::kDotted:
      return style + " stroke-width=\"3.5\" stroke-linecap=\"round\" stroke-dasharray=\"0.1 7\"";
    case Stroke::kDashDotted:
      return style + " stroke-width=\"3\" stroke-linecap=\"round\" stroke-dasharray=\"8 6 0.1 6\"";
  }
  return style;
}

}  // namespace

const char* GeometryColour(SpectrumAngle angle) {
  if (!IsListedAngle(angle)) return "#999999";
  return kPalette[static_cast<std::size_t>(angle)];
}

std::string ToSvg(const ExportRequest& request) {
  const std::vector<MeasuredGeometry> geometries = MeasuredGeometries(request.data);
  double lo = 0.0, hi = 10.0;
  bool any = false;
  for (const MeasuredGeometry& entry : geometries) {
    for (float v : entry.values->spectrum) {
      if (!std::isfinite(v)) continue;
      // Keep extreme values plottable: far beyond any reflectance they only
      // widen the axis, but must not overflow the arithmetic below.
      const double percent = std::clamp(static_cast<double>(v) * 100.0, -1e12, 1e12);
      lo = std::min(lo, percent);
      hi = std::max(hi, percent);
      any = true;
    }
  }
  if (!any) hi = 100.0;
  const Axis axis = MakeAxis(lo, hi);

  std::string title = "Reflectance spectra: " + request.job;
  if (request.sampleIndex) title += ", sample " + std::to_string(*request.sampleIndex);
  title = XmlEscape(title);

  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + Num(kWidth) +
         "\" height=\"" + Num(kHeight) + "\" viewBox=\"0 0 " + Num(kWidth) + " " + Num(kHeight) +
         "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"14\">\n";
  out += "  <title>" + title + "</title>\n";
  out += "  <rect x=\"0\" y=\"0\" width=\"" + Num(kWidth) + "\" height=\"" + Num(kHeight) +
         "\" fill=\"#ffffff\"/>\n";
  Text(out, (kLeft + kRight) / 2, 32, "middle", title, " font-size=\"18\" font-weight=\"bold\"");

  // Grid, ticks and tick labels.
  const int ySteps = static_cast<int>(std::lround((axis.hi - axis.lo) / axis.step));
  for (int i = 0; i <= ySteps; ++i) {
    const double value = axis.lo + i * axis.step;
    const double y = Y(axis, value);
    Line(out, kLeft, y, kRight, y,
         std::abs(value) < axis.step * 1e-9 ? "stroke=\"#888888\" stroke-width=\"1\""
                                            : "stroke=\"#dddddd\" stroke-width=\"1\"");
    Line(out, kLeft - 5, y, kLeft, y, "stroke=\"#000000\"");
    Text(out, kLeft - 8, y + 5, "end", FormatFixed(value, axis.decimals));
  }
  for (int nm = kFirstWavelengthNm; nm <= kLastWavelengthNm; nm += kWavelengthStepNm) {
    const bool major = nm % 50 == 0;
    if (major) {
      Line(out, X(nm), kTop, X(nm), kBottom, "stroke=\"#dddddd\" stroke-width=\"1\"");
      Text(out, X(nm), kBottom + 22, "middle", std::to_string(nm));
    }
    Line(out, X(nm), kBottom, X(nm), kBottom + (major ? 6 : 3), "stroke=\"#000000\"");
  }
  out += "  <rect x=\"" + Num(kLeft) + "\" y=\"" + Num(kTop) + "\" width=\"" + Num(kRight - kLeft) +
         "\" height=\"" + Num(kBottom - kTop) + "\" fill=\"none\" stroke=\"#000000\"/>\n";
  Text(out, (kLeft + kRight) / 2, kHeight - 22, "middle", "Wavelength (nm)");
  const double midY = (kTop + kBottom) / 2;
  Text(out, 24, midY, "middle", "Reflectance (%)",
       " transform=\"rotate(-90 24 " + Num(midY) + ")\"");

  // Curves, the broken ones over the others; a non-finite value ends a
  // segment.
  std::vector<MeasuredGeometry> drawOrder = geometries;
  std::stable_sort(drawOrder.begin(), drawOrder.end(), [](const auto& x, const auto& y) {
    return StrokeOf(x.geometry) < StrokeOf(y.geometry);
  });
  for (const MeasuredGeometry& entry : drawOrder) {
    std::string path;
    bool pen = false;
    for (std::size_t i = 0; i < kSpectrumValueCount; ++i) {
      const float v = entry.values->spectrum[i];
      if (!std::isfinite(v)) {
        pen = false;
        continue;
      }
      const double percent = std::clamp(static_cast<double>(v) * 100.0, -1e12, 1e12);
      path += pen ? " L" : (path.empty() ? "M" : " M");
      path += Num(X(WavelengthNm(i))) + " " + Num(Y(axis, percent));
      pen = true;
    }
    if (path.empty()) continue;
    out += "  <path d=\"" + path + "\" fill=\"none\" stroke-linejoin=\"round\" " +
           StrokeStyle(entry.geometry) + "><title>" + entry.geometry.name + "</title></path>\n";
  }
  if (geometries.empty()) {
    Text(out, (kLeft + kRight) / 2, midY, "middle", "no spectral data", " fill=\"#888888\"");
  }

  // Legend.
  const double legendX = kRight + 20;
  Text(out, legendX, kTop + 4, "start", "Geometry", " font-weight=\"bold\"");
  double y = kTop + 28;
  for (const MeasuredGeometry& entry : geometries) {
    Line(out, legendX, y - 5, legendX + 34, y - 5, StrokeStyle(entry.geometry));
    Text(out, legendX + 42, y, "start", entry.geometry.name);
    y += 22;
  }
  if (!geometries.empty()) {
    const char* notes[] = {"15\u00B0 illumination: solid,", "dotted at negative aspecular",
                           "45\u00B0 illumination: dashed,", "dash-dotted at negative"};
    for (const char* note : notes) {
      y += 16;
      Text(out, legendX, y, "start", note, " font-size=\"11\"");
    }
  }
  out += "</svg>\n";
  return out;
}

}  // namespace vantorel::exporter
