#include "client/quality/QcSvg.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "client/export/TextFormat.h"
#include "client/quality/SvgElements.h"

namespace vantorel::quality {
namespace {

constexpr double kWidth = 1220, kHeight = 560;
// The bar chart; the a*b* panels are right of it.
constexpr double kBarLeft = 70, kBarRight = 540, kTop = 80, kBottom = 440;

using svg::Line;
using svg::Num;
using svg::Step;
using svg::Text;

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

// The a*b* panels: a grid of cells right of the bars, one per compared
// geometry and a last one that explains the marks.
constexpr double kPanelLeft = 600, kPanel = 132, kCellWidth = 148, kCellHeight = 182;
constexpr int kPanelColumns = 4;
constexpr const char* kToleranceStyle =
    "stroke=\"#b71c1c\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\" fill=\"none\"";
constexpr const char* kBatchToleranceStyle =
    "stroke=\"#e57373\" stroke-width=\"1.5\" stroke-linecap=\"round\" "
    "stroke-dasharray=\"0.1 3\" fill=\"none\"";

std::string Signed(double v) {
  const std::string text = exporter::FormatFixed(v, 2);
  return text.starts_with('-') || text == "0.00" ? text : "+" + text;
}

// Cells fill the rows of kPanelColumns from left to right, from the grid's
// top left corner.
struct Origin {
  double left = kPanelLeft, top = kTop - 10;
};
double PanelTop(const Origin& o, int cell) { return o.top + kCellHeight * (cell / kPanelColumns); }
double PanelLeft(const Origin& o, int cell) { return o.left + kCellWidth * (cell % kPanelColumns); }

// Half the width of a panel, in a*b* units, for a batch `offset` away from
// the standard and a tolerance contour reaching `contour` along either axis.
double PanelExtent(double da, double db, double contour) {
  const double need = std::max(std::abs(da), std::abs(db)) * 1.25;
  // A difference of 0.3 or more spans at least a sixth of the half-width.
  const double limit = 6.0 * std::max(std::hypot(da, db), 0.3);
  return std::max({need, std::min(contour * 1.15, limit), 0.05});
}

void Panel(std::string& out, const Origin& o, int cell, const ComparisonRow& row,
           colour::Formula formula) {
  const double left = PanelLeft(o, cell), top = PanelTop(o, cell) + 20;
  const colour::Lab& s = *row.standard;
  const double da = row.batch->a - s.a, db = row.batch->b - s.b;
  const auto contour = ToleranceContour(formula, s, row.tolerance);
  double reach = 0.0, nearest = std::numeric_limits<double>::infinity();
  for (const auto& [x, y] : contour) {
    reach = std::max({reach, std::abs(x), std::abs(y)});
    nearest = std::min(nearest, std::max(std::abs(x), std::abs(y)));
  }
  const double extent = PanelExtent(std::isfinite(da) ? da : 0, std::isfinite(db) ? db : 0, reach);
  const double cx = left + kPanel / 2, cy = top + kPanel / 2, scale = kPanel / 2 / extent;
  const auto px = [&](double offset) { return cx + std::clamp(offset, -extent, extent) * scale; };
  const auto py = [&](double offset) { return cy - std::clamp(offset, -extent, extent) * scale; };
  const bool pass = row.status == RowStatus::kPass;
  const std::string colour = pass ? "#2e7d32" : "#c62828";

  out += Text(left, top - 6, "start", row.geometry, " font-size=\"12\" font-weight=\"bold\"");
  out += Text(left + kPanel, top - 6, "end", exporter::FormatFixed(row.deltaE, 2),
              " font-size=\"12\" fill=\"" + colour + "\"");
  const std::string clip = "panel" + std::to_string(cell);
  out += "  <clipPath id=\"" + clip + "\"><rect x=\"" + Num(left) + "\" y=\"" + Num(top) +
         "\" width=\"" + Num(kPanel) + "\" height=\"" + Num(kPanel) + "\"/></clipPath>\n";
  const double step = Step(2 * extent);
  for (double v = std::ceil(-extent / step) * step; v <= extent; v += step) {
    const bool axis = std::abs(v) < step * 1e-6;
    const std::string style = axis ? "stroke=\"#bbbbbb\"" : "stroke=\"#eeeeee\"";
    out += Line(px(v), top, px(v), top + kPanel, style);
    out += Line(left, py(v), left + kPanel, py(v), style);
  }
  out += "  <rect x=\"" + Num(left) + "\" y=\"" + Num(top) + "\" width=\"" + Num(kPanel) +
         "\" height=\"" + Num(kPanel) + "\" fill=\"none\" stroke=\"#000000\"/>\n";
  const auto outline = [&](const std::vector<std::pair<double, double>>& points,
                           const std::string& kind, const char* style) {
    if (points.empty()) return;
    std::string path;
    for (const auto& [x, y] : points) {
      path += (path.empty() ? "M" : " L") + Num(cx + x * scale) + " " + Num(cy - y * scale);
    }
    out += "  <path class=\"" + kind + "\" d=\"" + path + " Z\" clip-path=\"url(#" + clip + ")\" " +
           style + "/>\n";
  };
  if (std::isfinite(row.components.dL) && std::abs(row.components.dL) > 1e-9) {
    outline(ToleranceContour(formula, s, row.tolerance, 72, row.components.dL), "tolerance-batch",
            kBatchToleranceStyle);
  }
  if (!contour.empty()) {
    outline(contour, "tolerance", kToleranceStyle);
    if (nearest > extent) {
      out += Text(left + kPanel - 4, top + kPanel - 5, "end", "tolerance outside",
                  " font-size=\"10\" fill=\"#b71c1c\"");
    }
  }
  out += Line(cx, cy, px(da), py(db), "stroke=\"" + colour + "\" stroke-width=\"1.5\"");
  out += "  <circle class=\"standard\" cx=\"" + Num(cx) + "\" cy=\"" + Num(cy) +
         "\" r=\"4.5\" fill=\"#ffffff\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n";
  out += "  <circle class=\"batch\" cx=\"" + Num(px(da)) + "\" cy=\"" + Num(py(db)) +
         "\" r=\"3.5\" fill=\"" + colour + "\"/>\n";
  out += Text(left, top + kPanel + 14, "start",
              "dL* " + Signed(row.components.dL) + "   grid " +
                  exporter::FormatFixed(step, step < 0.1 ? 2 : (step < 1 ? 1 : 0)),
              " font-size=\"11\" fill=\"#444444\"");
}

// The last cell: what the marks of the panels mean.
void PanelKey(std::string& out, const Origin& o, int cell, const Comparison& c) {
  const double left = PanelLeft(o, cell), top = PanelTop(o, cell) + 20;
  const std::string label = colour::FormulaLabel(c.formula);
  const std::pair<const char*, std::string> lines[] = {
      {"", "a*b* per geometry,"},       {"", "centred on the standard"},
      {"", "(+a* right, +b* up)"},      {"standard", "standard"},
      {"batch", "batch (green: pass)"}, {"tolerance", label + " tolerance"},
      {"", "at the standard's L*,"},    {"tolerance-batch", "at the batch's L*"},
  };
  double y = top + 8;
  for (const auto& [markName, text] : lines) {
    const std::string_view mark = markName;
    if (mark == "standard") {
      out += "  <circle cx=\"" + Num(left + 6) + "\" cy=\"" + Num(y - 4) +
             "\" r=\"4.5\" fill=\"#ffffff\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n";
    } else if (mark == "batch") {
      out += "  <circle cx=\"" + Num(left + 6) + "\" cy=\"" + Num(y - 4) +
             "\" r=\"3.5\" fill=\"#2e7d32\"/>\n";
    } else if (mark == "tolerance") {
      out += Line(left, y - 4, left + 14, y - 4, kToleranceStyle);
    } else if (mark == "tolerance-batch") {
      out += Line(left, y - 4, left + 14, y - 4, kBatchToleranceStyle);
    }
    out += Text(left + (mark.empty() ? 0 : 20), y, "start", text, " font-size=\"11\"");
    y += 17;
  }
}

// Draws the panels; returns the y below the last one.
double Panels(std::string& out, const Comparison& c, const Origin& o = {}) {
  int cell = 0;
  for (const ComparisonRow& row : c.rows) {
    if (!row.standard || !row.batch) continue;
    Panel(out, o, cell++, row, c.formula);
  }
  PanelKey(out, o, cell, c);
  return PanelTop(o, cell) + kCellHeight;
}

// An <svg> element for inline use in HTML, which needs neither an XML
// declaration nor the namespace.
std::string SvgElement(double width, double height, const std::string& body) {
  return "<svg width=\"" + Num(width) + "\" height=\"" + Num(height) + "\" viewBox=\"0 0 " +
         Num(width) + " " + Num(height) +
         "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n" +
         "  <rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n" + body + "</svg>\n";
}

}  // namespace

std::vector<std::pair<double, double>> ToleranceContour(colour::Formula formula,
                                                        const colour::Lab& standard,
                                                        double tolerance, int directions,
                                                        double dL) {
  std::vector<std::pair<double, double>> out;
  if (!std::isfinite(tolerance) || tolerance <= 0 || directions <= 0 || !std::isfinite(dL) ||
      !std::isfinite(standard.l) || !std::isfinite(standard.a) || !std::isfinite(standard.b)) {
    return out;
  }
  const double l = standard.l + dL;
  // Where the lightness difference alone uses up the tolerance, nothing in
  // the plane passes.
  if (!(colour::DeltaE(formula, standard, {l, standard.a, standard.b}) < tolerance)) return out;
  constexpr double kPi = 3.14159265358979323846;
  for (int i = 0; i < directions; ++i) {
    const double angle = 2 * kPi * i / directions, ca = std::cos(angle), sa = std::sin(angle);
    const auto difference = [&](double r) {
      return colour::DeltaE(formula, standard, {l, standard.a + r * ca, standard.b + r * sa});
    };
    // Every formula grows at least about as fast as dE76 divided by its
    // largest weight, so doubling from the tolerance finds a bracket soon.
    double lo = 0, hi = tolerance;
    int doublings = 0;
    while (!(difference(hi) >= tolerance) && doublings++ < 40) {
      lo = hi;
      hi *= 2;
    }
    if (!(difference(hi) >= tolerance)) continue;
    while (hi - lo > 1e-9 * hi) {
      const double mid = (lo + hi) / 2;
      (difference(mid) >= tolerance ? hi : lo) = mid;
    }
    out.emplace_back(hi * ca, hi * sa);
  }
  return out;
}

std::string DeltaEBarsSvg(const Comparison& comparison) {
  std::string body;
  Bars(body, comparison);
  // The chart without qc.svg's title rows above it.
  constexpr double kShift = kTop - 20;
  return SvgElement(kBarRight + 20, kHeight - kShift,
                    "  <g transform=\"translate(0 " + Num(-kShift) + ")\">\n" + body + "  </g>\n");
}

std::string AbPanelsSvg(const Comparison& comparison) {
  std::string body;
  const double height = Panels(body, comparison, Origin{10, 0});
  return SvgElement(10 + kCellWidth * kPanelColumns, height, body);
}

std::string ToQcSvg(const Comparison& comparison) {
  std::string body;
  Bars(body, comparison);
  const double height = std::max(kHeight, Panels(body, comparison) + 10);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth) + "\" height=\"" +
         Num(height) + "\" viewBox=\"0 0 " + Num(kWidth) + " " + Num(height) +
         "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n";
  out += "  <rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  const std::string verdict = comparison.Passed() ? "PASS" : "FAIL";
  out += Text(kWidth / 2, 28, "middle",
              comparison.batch.source + " against " + comparison.standard.source + ": " + verdict,
              " font-size=\"16\" font-weight=\"bold\"");
  out += Text(kWidth / 2, 50, "middle",
              std::string(colour::FormulaLabel(comparison.formula)) + " per geometry (" +
                  std::to_string(comparison.failed) + " of " + std::to_string(comparison.compared) +
                  " outside tolerance) and the batch in a*, b* around the standard");
  out += body;
  out += "</svg>\n";
  return out;
}

}  // namespace vantorel::quality
