#include "client/quality/QcReport.h"

#include <cmath>

#include "client/export/TextFormat.h"

namespace vantorel::quality {
namespace {

nlohmann::json LabJson(const std::optional<colour::Lab>& lab) {
  if (!lab) return nullptr;
  return {{"L", Rounded(lab->l)}, {"a", Rounded(lab->a)}, {"b", Rounded(lab->b)}};
}

nlohmann::json SideJson(const QcSide& side, const std::optional<double>& flop) {
  return {{"source", side.source},
          {"kind", side.kind},
          {"flopIndex", flop ? Rounded(*flop) : nlohmann::json(nullptr)}};
}

bool BothSides(const ComparisonRow& row) {
  return row.status == RowStatus::kPass || row.status == RowStatus::kFail;
}

}  // namespace

nlohmann::json Rounded(double value) {
  if (!std::isfinite(value)) return nullptr;
  return std::round(value * 1e4) / 1e4;
}

nlohmann::json ComparisonJson(const Comparison& comparison) {
  nlohmann::json rows = nlohmann::json::array();
  nlohmann::json onlyStandard = nlohmann::json::array();
  nlohmann::json onlyBatch = nlohmann::json::array();
  for (const ComparisonRow& row : comparison.rows) {
    const bool both = BothSides(row);
    const auto value = [&](double v) { return both ? Rounded(v) : nlohmann::json(nullptr); };
    rows.push_back({{"geometry", row.geometry},
                    {"status", StatusText(row.status)},
                    {"standard", LabJson(row.standard)},
                    {"batch", LabJson(row.batch)},
                    {"dL", value(row.components.dL)},
                    {"da", value(row.components.da)},
                    {"db", value(row.components.db)},
                    {"dC", value(row.components.dC)},
                    {"dH", value(row.components.dH)},
                    {"dE", value(row.deltaE)},
                    {"tolerance", Rounded(row.tolerance)},
                    {"pass", both ? nlohmann::json(row.status == RowStatus::kPass)
                                  : nlohmann::json(nullptr)}});
    if (row.status == RowStatus::kOnlyStandard) onlyStandard.push_back(row.geometry);
    if (row.status == RowStatus::kOnlyBatch) onlyBatch.push_back(row.geometry);
  }
  return {{"formula", colour::FormulaName(comparison.formula)},
          {"formulaLabel", colour::FormulaLabel(comparison.formula)},
          {"standard", SideJson(comparison.standard, comparison.standardFlop)},
          {"batch", SideJson(comparison.batch, comparison.batchFlop)},
          {"geometries", rows},
          {"onlyInStandard", onlyStandard},
          {"onlyInBatch", onlyBatch},
          {"compared", comparison.compared},
          {"failed", comparison.failed},
          {"pass", comparison.Passed()}};
}

std::string ToQcCsv(const Comparison& comparison) {
  std::string out =
      "geometry,status,L_standard,a_standard,b_standard,L_batch,a_batch,b_batch,dL,da,db,dC,dH,"
      "dE,tolerance\n";
  const auto number = [](double v) {
    return std::isfinite(v) ? exporter::FormatFixed(v, 4) : std::string();
  };
  const auto lab = [&](const std::optional<colour::Lab>& value) {
    if (!value) return std::string(",,");
    return number(value->l) + "," + number(value->a) + "," + number(value->b);
  };
  for (const ComparisonRow& row : comparison.rows) {
    // Geometry names from a foreign CxF may hold anything: quote when needed.
    out += exporter::CsvField(row.geometry) + "," + StatusText(row.status) + "," +
           lab(row.standard) + "," + lab(row.batch);
    if (BothSides(row)) {
      const colour::LabComponents& d = row.components;
      out += "," + number(d.dL) + "," + number(d.da) + "," + number(d.db) + "," + number(d.dC) +
             "," + number(d.dH) + "," + number(row.deltaE);
    } else {
      out += ",,,,,,";
    }
    out += "," + number(row.tolerance) + "\n";
  }
  return out;
}

}  // namespace vantorel::quality
