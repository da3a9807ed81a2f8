#include "client/quality/RecordJson.h"

namespace vantorel::quality {
nlohmann::json StandardJson(const records::StandardRecord& standard, bool withValues) {
  nlohmann::json tolerances = nlohmann::json::object();
  for (const records::GeometryTolerance& entry : standard.tolerances) {
    tolerances[entry.geometry] = entry.tolerance;
  }
  nlohmann::json out = {
      {"name", standard.name},       {"version", standard.version},
      {"time", standard.time},       {"source", standard.source},
      {"formula", standard.formula}, {"tolerances", tolerances},
      {"note", standard.note},       {"geometries", standard.values.size()},
      {"removed", standard.removed}, {"sourceRecord", OrNull(standard.sourceRecord)}};
  if (withValues) {
    nlohmann::json values = nlohmann::json::array();
    for (const records::GeometryLab& value : standard.values) {
      values.push_back(
          {{"geometry", value.geometry}, {"lab", {value.lab[0], value.lab[1], value.lab[2]}}});
    }
    out["values"] = values;
  }
  return out;
}

nlohmann::json HistoryJson(const records::HistoryEntry& entry) {
  nlohmann::json comparisons = nlohmann::json::array();
  for (const records::ComparisonVerdict& verdict : entry.comparisons) {
    comparisons.push_back({{"id", verdict.id},
                           {"standard", verdict.standard},
                           {"version", OrNull(verdict.version)},
                           {"pass", verdict.passed}});
  }
  return {{"id", entry.id},
          {"time", entry.time},
          {"operator", entry.operatorName},
          {"instrument", entry.instrument},
          {"job", entry.job},
          {"make", entry.make},
          {"samples", entry.samples},
          {"comparisons", comparisons}};
}

nlohmann::json TrendPointJson(const records::TrendPoint& point) {
  nlohmann::json geometries = nlohmann::json::array();
  for (const records::TrendValue& value : point.values) {
    geometries.push_back({{"geometry", value.geometry},
                          {"deltaE", OrNull(value.deltaE)},
                          {"tolerance", value.tolerance},
                          {"status", value.status}});
  }
  return {{"comparison", point.comparison},
          {"time", point.time},
          {"version", point.version},
          {"batchRecord", OrNull(point.batchRecord)},
          {"batch", point.job.empty() ? point.batchSource : point.job},
          {"pass", point.passed},
          {"geometries", geometries}};
}

}  // namespace vantorel::quality
