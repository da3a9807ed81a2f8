#include "client/quality/ReportPage.h"

#include <cmath>
#include <optional>

#include "client/export/TextFormat.h"
#include "client/quality/ComparisonRecord.h"
#include "client/quality/QcReport.h"
#include "client/quality/QcSvg.h"
#include "colour/ColourDifference.h"
#include "colour/Utf8.h"

namespace vantorel::quality {
namespace {

using nlohmann::json;

std::string Esc(const std::string& text) { return exporter::XmlEscape(text); }

json Str(const std::string& text) { return colour::SanitizeUtf8(text); }

json Opt(const std::optional<double>& v) { return v ? Rounded(*v) : json(nullptr); }

json LabArray(const std::optional<records::Lab3>& lab) {
  if (!lab) return nullptr;
  return json::array({Rounded((*lab)[0]), Rounded((*lab)[1]), Rounded((*lab)[2])});
}

json Triple(const std::array<std::optional<double>, 3>& v) {
  return json::array({Opt(v[0]), Opt(v[1]), Opt(v[2])});
}

std::string FormulaLabelOf(const std::string& formula) {
  const std::optional<colour::Formula> f = colour::ParseFormula(formula);
  return f ? colour::FormulaLabel(*f) : formula;
}

// A number for the page: two decimals, a dash when unknown.
std::string Fixed(const std::optional<double>& v, int decimals = 2) {
  if (!v || !std::isfinite(*v)) return "\u2013";
  return exporter::FormatFixed(*v, decimals);
}

std::string SignedFixed(const std::optional<double>& v) {
  const std::string text = Fixed(v);
  return text[0] == '-' || text == "0.00" || text == "\u2013" ? text : "+" + text;
}

std::string OrDash(const std::string& text) { return text.empty() ? "\u2013" : Esc(text); }

std::string Row(const std::string& label, const std::string& html) {
  return "<tr><th>" + label + "</th><td>" + html + "</td></tr>\n";
}

constexpr const char* kStyle = R"(
@page { size: A4; margin: 14mm 12mm 16mm 12mm; }
html { background: #fff; color: #000; }
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 9.5pt;
  margin: 0 auto; max-width: 186mm; line-height: 1.35; }
h1 { font-size: 15pt; margin: 0 0 2mm 0; }
h2 { font-size: 11pt; margin: 5mm 0 1.5mm 0; border-bottom: 0.4mm solid #000; }
header { display: flex; justify-content: space-between; align-items: center; gap: 6mm;
  border-bottom: 0.8mm solid #000; padding-bottom: 2mm; }
.meta { color: #000; font-size: 9pt; }
.badge { font-size: 20pt; font-weight: bold; letter-spacing: 0.1em; padding: 1mm 5mm;
  border: 0.8mm solid #000; border-radius: 2mm;
  -webkit-print-color-adjust: exact; print-color-adjust: exact; }
.badge.pass { background: #c8e6c9; color: #0b3d0e; }
.badge.fail { background: #ffcdd2; color: #5c0000; border-style: double; border-width: 1.6mm; }
.columns { display: flex; gap: 6mm; }
.columns > section { flex: 1; }
table { border-collapse: collapse; }
table.facts th { text-align: left; font-weight: normal; color: #333; padding: 0.4mm 3mm 0.4mm 0;
  vertical-align: top; white-space: nowrap; }
table.facts td { padding: 0.4mm 0; }
table.values { width: 100%; font-size: 8pt; }
table.values th, table.values td { border: 0.2mm solid #666; padding: 0.6mm 1.2mm; }
table.values th { background: #eee; -webkit-print-color-adjust: exact; print-color-adjust: exact; }
table.values td.n { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
table.values td.fail { font-weight: bold; }
thead { display: table-header-group; }
tr, figure, .keep { break-inside: avoid; page-break-inside: avoid; }
figure { margin: 2mm 0; }
figure svg { max-width: 100%; height: auto; }
figcaption { font-size: 8.5pt; color: #333; }
footer { margin-top: 5mm; border-top: 0.4mm solid #000; padding-top: 1mm; font-size: 8.5pt; }
.note { font-size: 8.5pt; color: #333; }
)";

}  // namespace

json ReportJson(const ReportInput& input) {
  const records::ComparisonRecord& c = input.comparison;
  const records::StandardRecord* s = input.standard;
  const records::MeasurementRecord* m = input.batch;

  json standard = {{"name", Str(s ? s->name : c.standardName)},
                   {"version", s ? json(s->version)
                                 : (c.standardVersion ? json(*c.standardVersion) : json(nullptr))},
                   {"note", s ? Str(s->note) : json(nullptr)},
                   {"source", Str(s ? s->source : c.standardSource)},
                   {"time", s ? Str(s->time) : json(nullptr)},
                   {"tolerances", nullptr}};
  if (s) {
    json tolerances = json::array();
    for (const records::GeometryTolerance& t : s->tolerances) {
      tolerances.push_back({{"geometry", Str(t.geometry)}, {"tolerance", Rounded(t.tolerance)}});
    }
    standard["tolerances"] = tolerances;
  }

  std::optional<std::int64_t> batchRecord = c.batchRecord;
  if (!batchRecord && m) batchRecord = m->id;
  json batch = {{"record", batchRecord ? json(*batchRecord) : json(nullptr)},
                {"source", Str(c.batchSource)},
                {"job", m ? Str(m->job) : json(nullptr)},
                {"make", m ? Str(m->make) : json(nullptr)},
                {"time", m ? Str(m->time) : json(nullptr)},
                {"operator", m ? Str(m->operatorName) : json(nullptr)},
                {"instrument", m ? Str(m->instrument) : json(nullptr)},
                {"samples", m ? json(m->sampleCount) : json(nullptr)},
                {"spread", nullptr}};
  if (m) {
    json spread = json::array();
    for (const records::GeometrySpread& g : m->spread) {
      spread.push_back(
          {{"geometry", Str(g.geometry)}, {"stdev", Triple(g.stdev)}, {"range", Triple(g.range)}});
    }
    batch["spread"] = spread;
  }

  json applied = json::array();
  json geometries = json::array();
  for (const records::ComparisonRowRecord& r : c.rows) {
    applied.push_back({{"geometry", Str(r.geometry)}, {"tolerance", Rounded(r.tolerance)}});
    geometries.push_back({{"geometry", Str(r.geometry)},
                          {"standard", LabArray(r.standardLab)},
                          {"batch", LabArray(r.batchLab)},
                          {"dL", Opt(r.dL)},
                          {"da", Opt(r.da)},
                          {"db", Opt(r.db)},
                          {"dC", Opt(r.dC)},
                          {"dH", Opt(r.dH)},
                          {"deltaE", Opt(r.deltaE)},
                          {"tolerance", Rounded(r.tolerance)},
                          {"status", Str(r.status)}});
  }
  // The overrides are JSON text from the store: kept when they parse as an
  // object, else left out rather than trusted.
  json overrides = json::parse(c.overrides, nullptr, false);
  if (!overrides.is_object()) overrides = nullptr;

  return {{"comparison", c.id},
          {"time", Str(c.time)},
          {"operator", Str(c.operatorName)},
          {"instrument", Str(c.instrument)},
          {"verdict", c.passed ? "pass" : "fail"},
          {"standard", standard},
          {"batch", batch},
          {"formula", Str(c.formula)},
          {"formulaLabel", Str(FormulaLabelOf(c.formula))},
          {"overrides", overrides},
          {"tolerances", applied},
          {"geometries", geometries},
          {"flopIndex", {{"standard", Opt(c.standardFlop)}, {"batch", Opt(c.batchFlop)}}}};
}

std::string ReportHtml(const ReportInput& input) {
  const records::ComparisonRecord& c = input.comparison;
  const records::StandardRecord* s = input.standard;
  const records::MeasurementRecord* m = input.batch;
  const std::string verdict = c.passed ? "PASS" : "FAIL";
  const std::string standardName = s ? s->name : c.standardName;
  const std::optional<int> version = s ? std::optional<int>(s->version) : c.standardVersion;
  const std::string label = FormulaLabelOf(c.formula);
  const std::string id = "#" + std::to_string(c.id);

  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<title>" + Esc("Comparison " + id + ": " + verdict + " \u2013 " + standardName) +
         "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";

  // Header: what was compared with what, and the verdict.
  std::string failedText;
  int compared = 0, failed = 0;
  for (const records::ComparisonRowRecord& r : c.rows) {
    if (r.status == "pass" || r.status == "fail") ++compared;
    if (r.status == "fail") ++failed;
  }
  out += "<header>\n<div>\n<h1>Colour comparison " + Esc(id) + "</h1>\n<div class=\"meta\">" +
         OrDash(standardName.empty() ? c.standardSource : standardName) +
         (version ? " v" + std::to_string(*version) : "") + " against " +
         OrDash(m && !m->job.empty() ? m->job : c.batchSource) + "<br>" + Esc(label) + ": " +
         std::to_string(failed) + " of " + std::to_string(compared) +
         " geometries outside tolerance<br>" + OrDash(c.time) +
         (c.operatorName.empty() ? "" : ", " + Esc(c.operatorName)) + "</div>\n</div>\n";
  out += std::string("<div class=\"badge ") + (c.passed ? "pass" : "fail") + "\">" + verdict +
         "</div>\n</header>\n";

  // Standard and batch side by side.
  out += "<div class=\"columns keep\">\n<section>\n<h2>Standard</h2>\n<table class=\"facts\">\n";
  out += Row("Name", OrDash(standardName));
  out += Row("Version", version ? std::to_string(*version) : "\u2013");
  if (s) {
    out += Row("Note", OrDash(s->note));
    out += Row("Stored", OrDash(s->time));
    out += Row("Made from", OrDash(s->source));
  }
  out += Row("Compared as", OrDash(c.standardSource));
  out += "</table>\n</section>\n<section>\n<h2>Batch</h2>\n<table class=\"facts\">\n";
  if (m) {
    out += Row("Job", OrDash(m->job));
    out += Row("Make", OrDash(m->make));
    out += Row("Measured", OrDash(m->time));
    out += Row("Operator", OrDash(m->operatorName));
    out += Row("Instrument", OrDash(m->instrument));
    out += Row("Samples", m->sampleIndex ? "sample " + std::to_string(*m->sampleIndex)
                                         : "mean of " + std::to_string(m->sampleCount) +
                                               (m->sampleCount == 1 ? " sample" : " samples"));
  }
  out += Row("Record", c.batchRecord ? "#" + std::to_string(*c.batchRecord) : "\u2013");
  out += Row("Compared as", OrDash(c.batchSource));
  out += "</table>\n</section>\n</div>\n";

  // Formula and tolerances.
  out += "<section class=\"keep\">\n<h2>Formula and tolerances</h2>\n<table class=\"facts\">\n";
  out += Row("Formula", Esc(label) + (label == c.formula ? "" : " (" + Esc(c.formula) + ")"));
  if (s && !s->tolerances.empty()) {
    std::string list;
    for (const records::GeometryTolerance& t : s->tolerances) {
      list += (list.empty() ? "" : ", ") +
              (t.geometry == "*" ? std::string("other geometries") : Esc(t.geometry)) + " " +
              Fixed(t.tolerance);
    }
    out += Row("Standard's tolerances", list);
  }
  if (!c.overrides.empty() && c.overrides != "{}") {
    out += Row("Overridden", "<code>" + Esc(c.overrides) + "</code>");
  }
  out += Row("Flop index", "standard " + Fixed(c.standardFlop) + ", batch " + Fixed(c.batchFlop));
  out += "</table>\n</section>\n";

  // The values.
  out +=
      "<h2>Per geometry</h2>\n<table class=\"values\">\n<thead>\n<tr><th rowspan=\"2\">"
      "Geometry</th><th colspan=\"3\">Standard</th><th colspan=\"3\">Batch</th>"
      "<th rowspan=\"2\">dL*</th><th rowspan=\"2\">da*</th><th rowspan=\"2\">db*</th>"
      "<th rowspan=\"2\">dC*</th><th rowspan=\"2\">dH*</th><th rowspan=\"2\">" +
      Esc(label) +
      "</th><th rowspan=\"2\">Tol.</th><th rowspan=\"2\">Result</th></tr>\n"
      "<tr><th>L*</th><th>a*</th><th>b*</th><th>L*</th><th>a*</th><th>b*</th></tr>\n"
      "</thead>\n<tbody>\n";
  const auto lab = [](const std::optional<records::Lab3>& v) {
    std::string cells;
    for (int i = 0; i < 3; ++i) {
      cells += "<td class=\"n\">" + (v ? Fixed((*v)[i]) : std::string("\u2013")) + "</td>";
    }
    return cells;
  };
  for (const records::ComparisonRowRecord& r : c.rows) {
    const bool fail = r.status == "fail";
    out += "<tr><td>" + Esc(r.geometry) + "</td>" + lab(r.standardLab) + lab(r.batchLab);
    for (const auto& d : {r.dL, r.da, r.db, r.dC, r.dH}) {
      out += "<td class=\"n\">" + SignedFixed(d) + "</td>";
    }
    out += std::string("<td class=\"n") + (fail ? " fail" : "") + "\">" + Fixed(r.deltaE) +
           "</td><td class=\"n\">" + Fixed(r.tolerance) + "</td><td" +
           (fail ? " class=\"fail\"" : "") + ">" + (fail ? "FAIL" : Esc(r.status)) + "</td></tr>\n";
  }
  out += "</tbody>\n</table>\n";

  if (m && !m->spread.empty()) {
    out +=
        "<h2>Spread of the batch's samples</h2>\n<table class=\"values\">\n<thead>\n<tr>"
        "<th rowspan=\"2\">Geometry</th><th colspan=\"3\">Standard deviation</th>"
        "<th colspan=\"3\">Range</th></tr>\n<tr><th>L*</th><th>a*</th><th>b*</th>"
        "<th>L*</th><th>a*</th><th>b*</th></tr>\n</thead>\n<tbody>\n";
    for (const records::GeometrySpread& g : m->spread) {
      out += "<tr><td>" + Esc(g.geometry) + "</td>";
      for (const auto* values : {&g.stdev, &g.range}) {
        for (const auto& v : *values) out += "<td class=\"n\">" + Fixed(v, 3) + "</td>";
      }
      out += "</tr>\n";
    }
    out += "</tbody>\n</table>\n";
  }

  // The pictures of qc.svg.
  if (const std::optional<Comparison> drawn = ComparisonFromRecord(c)) {
    out += "<h2>Pictures</h2>\n<figure>\n" + DeltaEBarsSvg(*drawn) + "<figcaption>" + Esc(label) +
           " per geometry (green within, red outside tolerance); the dashed line is the "
           "tolerance.</figcaption>\n</figure>\n<figure>\n" +
           AbPanelsSvg(*drawn) +
           "<figcaption>The batch in a*, b* around the standard, with the tolerance "
           "contour.</figcaption>\n</figure>\n";
  } else {
    out += "<p class=\"note\">No pictures: the formula " + Esc(c.formula) +
           " is not one this program draws.</p>\n";
  }

  out += "<footer>Comparison " + Esc(id) + ", " + OrDash(c.time) +
         (c.instrument.empty() ? "" : ", instrument " + Esc(c.instrument)) + "</footer>\n";
  out += "</body>\n</html>\n";
  return out;
}

}  // namespace vantorel::quality
