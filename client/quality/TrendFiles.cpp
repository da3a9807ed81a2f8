#include "client/quality/TrendFiles.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "client/export/StagedFolder.h"
#include "client/export/TextFormat.h"
#include "client/quality/SvgElements.h"

namespace vantorel::quality {
namespace {

using svg::Line;
using svg::Num;
using svg::Text;

// Values beyond any colour difference only widen the axis; bounded so the
// arithmetic below cannot overflow.
std::optional<double> Plottable(std::optional<double> v) {
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return std::clamp(*v, 0.0, 1e9);
}

std::string Number(std::optional<double> v) {
  return v && std::isfinite(*v) ? exporter::FormatFixed(*v, 4) : std::string();
}

std::string BatchName(const records::TrendPoint& p) {
  return p.job.empty() ? p.batchSource : p.job;
}

// The date part of a record's time text, or the text itself when it is not
// of the form the store writes.
std::string DateOf(const std::string& time) {
  return time.size() >= 10 && time[4] == '-' && time[7] == '-' ? time.substr(0, 10) : time;
}

// Geometries in the order they first appear.
std::vector<std::string> Geometries(const std::vector<records::TrendPoint>& points) {
  std::vector<std::string> out;
  for (const records::TrendPoint& p : points) {
    for (const records::TrendValue& v : p.values) {
      if (std::find(out.begin(), out.end(), v.geometry) == out.end()) out.push_back(v.geometry);
    }
  }
  return out;
}

const records::TrendValue* Find(const records::TrendPoint& p, const std::string& geometry) {
  for (const records::TrendValue& v : p.values) {
    if (v.geometry == geometry) return &v;
  }
  return nullptr;
}

bool Outside(const records::TrendValue& v) {
  const std::optional<double> e = Plottable(v.deltaE);
  return v.status == "fail" || (e && std::isfinite(v.tolerance) && *e > v.tolerance);
}

constexpr double kWidth = 1000, kHead = 78, kCellWidth = 490, kCellHeight = 230;
constexpr double kPlotLeft = 58, kPlotRight = 12, kPlotTop = 30, kPlotBottom = 44;
constexpr int kColumns = 2;
constexpr const char* kToleranceStyle =
    "fill=\"none\" stroke=\"#b71c1c\" stroke-width=\"1.5\" stroke-dasharray=\"6 3\"";

void Panel(std::string& out, double left, double top, const std::string& geometry,
           const std::vector<records::TrendPoint>& points) {
  const double x0 = left + kPlotLeft, x1 = left + kCellWidth - kPlotRight;
  const double y0 = top + kPlotTop, y1 = top + kCellHeight - kPlotBottom;
  double high = 0.0;
  int outside = 0;
  for (const records::TrendPoint& p : points) {
    const records::TrendValue* v = Find(p, geometry);
    if (!v) continue;
    if (const auto e = Plottable(v->deltaE)) high = std::max(high, *e);
    if (std::isfinite(v->tolerance)) high = std::max(high, std::clamp(v->tolerance, 0.0, 1e9));
    if (Plottable(v->deltaE) && Outside(*v)) ++outside;
  }
  if (!(high > 0)) high = 1.0;
  const double step = svg::Step(high * 1.1);
  const double axisTop = std::ceil(high * 1.1 / step) * step;
  const auto y = [&](double v) { return y1 - std::clamp(v / axisTop, 0.0, 1.0) * (y1 - y0); };
  const std::size_t n = points.size();
  const double slot = (x1 - x0) / static_cast<double>(std::max<std::size_t>(n, 1));
  const auto x = [&](std::size_t i) { return x0 + slot * (static_cast<double>(i) + 0.5); };

  out +=
      Text(left + kPlotLeft, top + 18, "start", geometry, " font-size=\"13\" font-weight=\"bold\"");
  out +=
      Text(x1, top + 18, "end",
           outside == 0 ? "all within tolerance" : std::to_string(outside) + " outside tolerance",
           std::string(" font-size=\"11\" fill=\"") +
               (outside == 0 ? svg::kPassColour : svg::kFailColour) + "\"");
  const int decimals = step < 0.1 ? 2 : (step < 1 ? 1 : 0);
  for (double v = 0; v <= axisTop + step / 2; v += step) {
    out += Line(x0, y(v), x1, y(v), v == 0 ? "stroke=\"#888888\"" : "stroke=\"#e4e4e4\"");
    out += Text(x0 - 6, y(v) + 4, "end", exporter::FormatFixed(v, decimals), " font-size=\"10\"");
  }
  out += "  <rect x=\"" + Num(x0) + "\" y=\"" + Num(y0) + "\" width=\"" + Num(x1 - x0) +
         "\" height=\"" + Num(y1 - y0) + "\" fill=\"none\" stroke=\"#000000\"/>\n";

  // Dates under at most one point in every 80 px, the last one always.
  const std::size_t every =
      std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(80.0 / std::max(slot, 1e-9))));
  for (std::size_t i = 0; i < n; ++i) {
    out += Line(x(i), y1, x(i), y1 + 3, "stroke=\"#000000\"");
    const bool last = i + 1 == n;
    if (last || (i % every == 0 && n - 1 - i >= every)) {
      out += Text(x(i), y1 + 15, "middle", DateOf(points[i].time), " font-size=\"10\"");
    }
  }

  // Where the standard's version changes: a grey line between the two
  // comparisons, named with the new version.
  for (std::size_t i = 1; i < n; ++i) {
    if (points[i].version == points[i - 1].version) continue;
    const double vx = x(i) - slot / 2;
    out += Line(vx, y0, vx, y1, "stroke=\"#555555\" stroke-width=\"1\" stroke-dasharray=\"2 2\"");
    out += Text(vx + 3, y0 + 11, "start", "v" + std::to_string(points[i].version),
                " font-size=\"10\" fill=\"#333333\"");
  }

  // The tolerance as steps: each comparison's holds from halfway to the
  // previous one to halfway to the next.
  std::string tolerance, deltaE;
  std::optional<std::size_t> previous;
  for (std::size_t i = 0; i < n; ++i) {
    const records::TrendValue* v = Find(points[i], geometry);
    if (!v || !std::isfinite(v->tolerance)) {
      previous.reset();
      continue;
    }
    const double ty = y(v->tolerance);
    tolerance += (previous ? " L" : (tolerance.empty() ? "M" : " M")) + Num(x(i) - slot / 2) + " " +
                 Num(ty) + " L" + Num(x(i) + slot / 2) + " " + Num(ty);
    previous = i;
  }
  if (!tolerance.empty())
    out += "  <path class=\"tolerance\" d=\"" + tolerance + "\" " + kToleranceStyle + "/>\n";
  bool pen = false;
  for (std::size_t i = 0; i < n; ++i) {
    const records::TrendValue* v = Find(points[i], geometry);
    const std::optional<double> e = v ? Plottable(v->deltaE) : std::nullopt;
    if (!e) {
      pen = false;
      continue;
    }
    deltaE += (pen ? " L" : (deltaE.empty() ? "M" : " M")) + Num(x(i)) + " " + Num(y(*e));
    pen = true;
  }
  if (!deltaE.empty()) {
    out += "  <path class=\"deltaE\" d=\"" + deltaE +
           "\" fill=\"none\" stroke=\"#1f4e79\" stroke-width=\"1.5\" stroke-linejoin=\"round\"/>\n";
  }
  const double radius = std::clamp(slot / 3, 1.5, 3.5);
  for (std::size_t i = 0; i < n; ++i) {
    const records::TrendValue* v = Find(points[i], geometry);
    const std::optional<double> e = v ? Plottable(v->deltaE) : std::nullopt;
    if (!e) continue;
    const bool bad = Outside(*v);
    const std::string title = "#" + std::to_string(points[i].comparison) + " " + points[i].time +
                              " v" + std::to_string(points[i].version) + ": " +
                              exporter::FormatFixed(*e, 2) + " (tolerance " +
                              exporter::FormatFixed(v->tolerance, 2) + ")";
    out += std::string("  <circle class=\"") + (bad ? "outside" : "within") + "\" cx=\"" +
           Num(x(i)) + "\" cy=\"" + Num(y(*e)) + "\" r=\"" + Num(bad ? radius + 1 : radius) +
           "\" fill=\"" + (bad ? svg::kFailColour : "#1f4e79") +
           "\" stroke=\"#ffffff\" stroke-width=\"0.5\"><title>" + exporter::XmlEscape(title) +
           "</title></circle>\n";
  }
}

}  // namespace

std::string TrendCsv(const std::vector<records::TrendPoint>& points) {
  std::string out = "comparison,time,version,batch,geometry,deltaE,tolerance,status\n";
  for (const records::TrendPoint& p : points) {
    const std::string head = std::to_string(p.comparison) + "," + exporter::CsvField(p.time) + "," +
                             std::to_string(p.version) + "," + exporter::CsvField(BatchName(p)) +
                             ",";
    for (const records::TrendValue& v : p.values) {
      out += head + exporter::CsvField(v.geometry) + "," + Number(v.deltaE) + "," +
             Number(v.tolerance) + "," + exporter::CsvField(v.status) + "\n";
    }
  }
  return out;
}

std::string TrendSvg(const std::vector<records::TrendPoint>& points, const std::string& standard,
                     const std::string& formulaLabel) {
  const std::vector<std::string> geometries = Geometries(points);
  const std::size_t rows = std::max<std::size_t>(1, (geometries.size() + kColumns - 1) / kColumns);
  const double height = kHead + kCellHeight * static_cast<double>(rows) + 30;
  std::string body;
  std::string subtitle;
  if (points.empty()) {
    subtitle = "no comparisons";
  } else {
    int outside = 0;
    for (const records::TrendPoint& p : points) outside += p.passed ? 0 : 1;
    subtitle = formulaLabel + " per geometry of " + std::to_string(points.size()) +
               (points.size() == 1 ? " comparison" : " comparisons") + ", " +
               DateOf(points.front().time) + " to " + DateOf(points.back().time) + " (" +
               std::to_string(outside) + " failed); standard v" +
               std::to_string(points.front().version);
    if (points.back().version != points.front().version) {
      subtitle += " to v" + std::to_string(points.back().version);
    }
  }
  for (std::size_t g = 0; g < geometries.size(); ++g) {
    Panel(body, 10 + kCellWidth * static_cast<double>(g % kColumns),
          kHead + kCellHeight * static_cast<double>(g / kColumns), geometries[g], points);
  }
  // The key.
  const double ky = height - 14;
  body += Line(20, ky - 4, 50, ky - 4, kToleranceStyle);
  body += Text(56, ky, "start", "tolerance", " font-size=\"11\"");
  body += "  <circle cx=\"140\" cy=\"" + Num(ky - 4) + "\" r=\"3.5\" fill=\"#1f4e79\"/>\n";
  body += Text(148, ky, "start", "within", " font-size=\"11\"");
  body += "  <circle cx=\"210\" cy=\"" + Num(ky - 4) + "\" r=\"4.5\" fill=\"" +
          std::string(svg::kFailColour) + "\"/>\n";
  body += Text(218, ky, "start", "outside tolerance", " font-size=\"11\"");
  body += Line(340, ky - 10, 340, ky + 2, "stroke=\"#555555\" stroke-dasharray=\"2 2\"");
  body += Text(346, ky, "start", "new version of the standard", " font-size=\"11\"");

  const std::string title = "\u0394E trend: " + standard;
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth) + "\" height=\"" +
         Num(height) + "\" viewBox=\"0 0 " + Num(kWidth) + " " + Num(height) +
         "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n";
  out += "  <title>" + exporter::XmlEscape(title) + "</title>\n";
  out += "  <rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  out += Text(kWidth / 2, 30, "middle", title, " font-size=\"18\" font-weight=\"bold\"");
  out += Text(kWidth / 2, 54, "middle", subtitle, " font-size=\"12\"");
  if (geometries.empty()) {
    out += Text(kWidth / 2, kHead + kCellHeight / 2, "middle", "no values", " fill=\"#888888\"");
  }
  out += body;
  out += "</svg>\n";
  return out;
}

exporter::ExportResult WriteTrendFolder(const std::filesystem::path& dir, const std::string& csv,
                                        const std::string& svg, bool force) {
  exporter::ExportResult result;
  std::unique_ptr<exporter::StagedFolder> folder =
      exporter::StagedFolder::Begin(dir, force, result.error);
  if (!folder) return result;
  for (const auto& [name, text] :
       {std::pair<std::string, const std::string&>{"trend.csv", csv}, {"trend.svg", svg}}) {
    if (!folder->WriteFile(name, text, result.error)) return result;
    result.files.push_back(name);
  }
  if (!folder->Commit(result.error, result.warnings)) {
    result.files.clear();
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace vantorel::quality
