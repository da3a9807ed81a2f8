#include "client/quality/QcSvg.h"

#include <algorithm>
#include <cmath>

#include "client/export/TextFormat.h"

namespace vantorel::quality {
namespace {

constexpr double kWidth = 1120, kHeight = 560;
// Bar panel and a*b* panel.
constexpr double kBarLeft = 70, kBarRight = 560, kTop = 80, kBottom = 440;
constexpr double kPlaneLeft = 640, kPlaneSize = 360;

constexpr const char* kPalette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                    "#9467bd", "#8c564b", "#e377c2", "#555555",
                                    "#bcbd22", "#17becf", "#000000"};

std::string Num(double v) { return exporter::FormatFixed(v, 2); }

std::string Text(double x, double y, const std::string& anchor, const std::string& text,
                 const std::string& extra = "") {
  return "  <text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" + anchor + "\"" +
         extra + ">" + exporter::XmlEscape(text) + "</text>\n";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& style) {
  return "  <line x1=\"" + Num(x1) + "\" y1=\"" + Num(y1) + "\" x2=\"" + Num(x2) + "\" y2=\"" +
         Num(y2) + "\" " + style + "/>\n";
}

// A round step (1, 2 or 5 times a power of ten) giving 4 to 10 grid lines.
double Step(double range) {
  const double raw = range / 6.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (factor * magnitude >= raw) return factor * magnitude;
  }
  return 10.0 * magnitude;
}

void Bars(std::string& out, const Comparison& c) {
  double top = 1.0;
  for (const ComparisonRow& row : c.rows) {
    if (std::isfinite(row.tolerance)) top = std::max(top, row.tolerance);
    if (row.status == RowStatus::kPass || row.status == RowStatus::kFail) {
      if (std::isfinite(row.deltaE)) top = std::max(top, row.deltaE);
    }
  }
  const double step = Step(top * 1.1);
  top = std::ceil(top * 1.1 / step) * step;
  const auto y = [&](double v) {
    return kBottom - std::clamp(v / top, 0.0, 1.0) * (kBottom - kTop);
  };
  for (double v = 0; v <= top + step / 2; v += step) {
    out += Line(kBarLeft, y(v), kBarRight, y(v), "stroke=\"#dddddd\"");
    out += Text(kBarLeft - 8, y(v) + 4, "end", exporter::FormatFixed(v, step < 1 ? 1 : 0));
  }
  out += Line(kBarLeft, kBottom, kBarRight, kBottom, "stroke=\"#000000\"");
  out += Line(kBarLeft, kTop, kBarLeft, kBottom, "stroke=\"#000000\"");
  out += Text(
      kBarLeft - 50, (kTop + kBottom) / 2, "middle", colour::FormulaLabel(c.formula),
      " transform=\"rotate(-90 " + Num(kBarLeft - 50) + " " + Num((kTop + kBottom) / 2) + ")\"");
  const double slot =
      (kBarRight - kBarLeft) / static_cast<double>(std::max<std::size_t>(c.rows.size(), 1));
  for (std::size_t i = 0; i < c.rows.size(); ++i) {
    const ComparisonRow& row = c.rows[i];
    const double left = kBarLeft + slot * static_cast<double>(i);
    const double centre = left + slot / 2;
    if (row.status == RowStatus::kPass || row.status == RowStatus::kFail) {
      const double value = std::isfinite(row.deltaE) ? row.deltaE : top;
      const char* fill = row.status == RowStatus::kPass ? "#4caf50" : "#e53935";
      out += "  <rect x=\"" + Num(left + slot * 0.2) + "\" y=\"" + Num(y(value)) + "\" width=\"" +
             Num(slot * 0.6) + "\" height=\"" + Num(kBottom - y(value)) + "\" fill=\"" + fill +
             "\"><title>" +
             exporter::XmlEscape(row.geometry + ": " + exporter::FormatFixed(row.deltaE, 2)) +
             "</title></rect>\n";
    } else {
      out += Text(centre, kBottom - 6, "middle",
                  row.status == RowStatus::kOnlyStandard ? "std only" : "batch only",
                  " font-size=\"10\" fill=\"#888888\"");
    }
    if (std::isfinite(row.tolerance)) {
      out += Line(left + slot * 0.05, y(row.tolerance), left + slot * 0.95, y(row.tolerance),
                  "stroke=\"#b71c1c\" stroke-width=\"2\" stroke-dasharray=\"6 3\"");
    }
    out += Text(centre, kBottom + 14, "end", row.geometry,
                " font-size=\"11\" transform=\"rotate(-45 " + Num(centre) + " " +
                    Num(kBottom + 14) + ")\"");
  }
  out += Line(kBarLeft, kHeight - 40, kBarLeft + 30, kHeight - 40,
              "stroke=\"#b71c1c\" stroke-width=\"2\" stroke-dasharray=\"6 3\"");
  out += Text(kBarLeft + 36, kHeight - 36, "start", "tolerance");
}

void Plane(std::string& out, const Comparison& c) {
  double extent = 5.0;
  for (const ComparisonRow& row : c.rows) {
    for (const auto& lab : {row.standard, row.batch}) {
      if (lab && std::isfinite(lab->a) && std::isfinite(lab->b)) {
        extent = std::max({extent, std::abs(lab->a), std::abs(lab->b)});
      }
    }
  }
  const double step = Step(extent * 2.2);
  extent = std::ceil(extent * 1.1 / step) * step;
  const double cx = kPlaneLeft + kPlaneSize / 2, cy = kTop + kPlaneSize / 2;
  const auto px = [&](double a) { return cx + std::clamp(a / extent, -1.0, 1.0) * kPlaneSize / 2; };
  const auto py = [&](double b) { return cy - std::clamp(b / extent, -1.0, 1.0) * kPlaneSize / 2; };
  for (double v = -extent; v <= extent + step / 2; v += step) {
    out += Line(px(v), kTop, px(v), kTop + kPlaneSize, "stroke=\"#eeeeee\"");
    out += Line(kPlaneLeft, py(v), kPlaneLeft + kPlaneSize, py(v), "stroke=\"#eeeeee\"");
  }
  out += "  <rect x=\"" + Num(kPlaneLeft) + "\" y=\"" + Num(kTop) + "\" width=\"" +
         Num(kPlaneSize) + "\" height=\"" + Num(kPlaneSize) +
         "\" fill=\"none\" stroke=\"#000000\"/>\n";
  out += Line(cx, kTop, cx, kTop + kPlaneSize, "stroke=\"#888888\"");
  out += Line(kPlaneLeft, cy, kPlaneLeft + kPlaneSize, cy, "stroke=\"#888888\"");
  out += Text(kPlaneLeft + kPlaneSize - 4, cy - 6, "end", "+a*");
  out += Text(cx + 6, kTop + 14, "start", "+b*");
  out += Text(
      kPlaneLeft, kTop + kPlaneSize + 18, "start",
      "grid " + exporter::FormatFixed(step, step < 1 ? 1 : 0) + "; o standard, \xE2\x97\x8F batch",
      " font-size=\"12\"");
  for (std::size_t i = 0; i < c.rows.size(); ++i) {
    const ComparisonRow& row = c.rows[i];
    const std::string colour = kPalette[i % std::size(kPalette)];
    if (row.standard && row.batch) {
      out += Line(px(row.standard->a), py(row.standard->b), px(row.batch->a), py(row.batch->b),
                  "stroke=\"" + colour + "\"");
    }
    if (row.standard) {
      out += "  <circle cx=\"" + Num(px(row.standard->a)) + "\" cy=\"" + Num(py(row.standard->b)) +
             "\" r=\"5\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"2\"/>\n";
    }
    if (row.batch) {
      out += "  <circle cx=\"" + Num(px(row.batch->a)) + "\" cy=\"" + Num(py(row.batch->b)) +
             "\" r=\"3.5\" fill=\"" + colour + "\"/>\n";
    }
    const double ly = kTop + 14 + 18 * static_cast<double>(i);
    const double lx = kPlaneLeft + kPlaneSize + 24;
    out += "  <circle cx=\"" + Num(lx) + "\" cy=\"" + Num(ly - 4) + "\" r=\"4\" fill=\"" + colour +
           "\"/>\n";
    out += Text(lx + 10, ly, "start", row.geometry, " font-size=\"12\"");
  }
}

}  // namespace

std::string ToQcSvg(const Comparison& comparison) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth) + "\" height=\"" +
         Num(kHeight) + "\" viewBox=\"0 0 " + Num(kWidth) + " " + Num(kHeight) +
         "\" font-family=\"sans-serif\" font-size=\"13\">\n";
  out += "  <rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  const std::string verdict = comparison.Passed() ? "PASS" : "FAIL";
  out += Text(kWidth / 2, 28, "middle",
              comparison.batch.source + " against " + comparison.standard.source + ": " + verdict,
              " font-size=\"16\" font-weight=\"bold\"");
  out += Text(kWidth / 2, 50, "middle",
              std::string(colour::FormulaLabel(comparison.formula)) + " per geometry (" +
                  std::to_string(comparison.failed) + " of " + std::to_string(comparison.compared) +
                  " outside tolerance) and a*, b*");
  Bars(out, comparison);
  Plane(out, comparison);
  out += "</svg>\n";
  return out;
}

}  // namespace vantorel::quality
