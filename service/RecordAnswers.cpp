#include "service/RecordAnswers.h"

#include "client/export/PngPreview.h"
#include "client/export/SvgPlot.h"
#include "client/quality/RecordConversion.h"
#include "client/quality/RecordJson.h"

namespace vantorel::lab {
namespace {

using quality::OrNull;

nlohmann::json Triple(const std::array<std::optional<double>, 3>& values) {
  if (!values[0] && !values[1] && !values[2]) return nullptr;
  return {OrNull(values[0]), OrNull(values[1]), OrNull(values[2])};
}

}  // namespace

nlohmann::json MeasurementJson(const records::MeasurementRecord& record) {
  nlohmann::json geometries = nlohmann::json::array();
  for (const records::GeometryReading& reading : record.combined.geometries) {
    nlohmann::json entry = {{"geometry", reading.geometry},
                            {"spectrum", reading.spectrum},
                            {"stdev", nullptr},
                            {"range", nullptr}};
    entry["lab"] = reading.lab ? nlohmann::json(*reading.lab) : nlohmann::json(nullptr);
    for (const records::GeometrySpread& spread : record.spread) {
      if (spread.geometry != reading.geometry) continue;
      entry["stdev"] = Triple(spread.stdev);
      entry["range"] = Triple(spread.range);
    }
    geometries.push_back(std::move(entry));
  }
  return {{"record", record.id},
          {"job", record.job},
          {"make", record.make},
          {"time", record.time},
          {"operator", record.operatorName},
          {"samples", record.sampleCount},
          {"geometries", geometries}};
}

nlohmann::json MeasurementDetailJson(const records::MeasurementRecord& record) {
  nlohmann::json body = MeasurementJson(record);
  body.erase("record");
  const std::string base = "/api/records/" + std::to_string(record.id);
  body["id"] = record.id;
  body["kind"] = "measurement";
  body["instrument"] = record.instrument;
  body["spectra"] = base + "/spectra.svg";
  nlohmann::json images = nlohmann::json::array();
  for (const records::GeometryReading& reading : record.combined.geometries) {
    if (reading.exr.empty()) continue;
    images.push_back(
        {{"geometry", reading.geometry}, {"png", base + "/images/" + reading.geometry + ".png"}});
  }
  body["images"] = images;
  return body;
}

nlohmann::json ComparisonDetailJson(const records::ComparisonRecord& comparison) {
  nlohmann::json rows = nlohmann::json::array();
  for (const records::ComparisonRowRecord& row : comparison.rows) {
    rows.push_back({{"geometry", row.geometry},
                    {"status", row.status},
                    {"tolerance", row.tolerance},
                    {"deltaE", OrNull(row.deltaE)},
                    {"dL", OrNull(row.dL)},
                    {"da", OrNull(row.da)},
                    {"db", OrNull(row.db)},
                    {"dC", OrNull(row.dC)},
                    {"dH", OrNull(row.dH)}});
  }
  return {{"id", comparison.id},
          {"kind", "comparison"},
          {"time", comparison.time},
          {"operator", comparison.operatorName},
          {"instrument", comparison.instrument},
          {"standard", comparison.standardName},
          {"version", OrNull(comparison.standardVersion)},
          {"batchRecord", OrNull(comparison.batchRecord)},
          {"passed", comparison.passed},
          {"formula", comparison.formula},
          {"rows", rows},
          {"report", "/api/comparisons/" + std::to_string(comparison.id) + "/report"}};
}

std::string SpectraSvg(const records::MeasurementRecord& record) {
  const VantorelMeasurementsFull data = quality::AnswerFromReading(record.combined);
  const std::optional<exporter::SampleStatistics> statistics =
      quality::StatisticsFromRecord(record);
  exporter::ExportRequest request;
  request.job = record.job;
  request.data = &data;
  request.statistics = statistics ? &*statistics : nullptr;
  return exporter::ToSvg(request);
}

std::optional<std::vector<std::uint8_t>> ImagePng(const records::MeasurementRecord& record,
                                                  const std::string& geometry) {
  for (const records::GeometryReading& reading : record.combined.geometries) {
    if (reading.geometry == geometry && !reading.exr.empty()) {
      return exporter::PngPreviewFromExr(reading.exr);
    }
  }
  return std::nullopt;
}

}  // namespace vantorel::lab
