// RecordAnswers: the records as the API answers them: a measurement with
// its combined values per geometry, a comparison with its rows, the
// pictures (spectra as SVG, images as PNG) drawn by the same code as the
// result folder's.
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "client/records/RecordTypes.h"

namespace vantorel::lab {

// {"record", "job", "make", "time", "operator", "samples", "geometries":
// [{"geometry", "lab", "spectrum", "stdev", "range"}]}.
nlohmann::json MeasurementJson(const records::MeasurementRecord& record);
// GET /api/records/{id}: the measurement with "id", "kind", "spectra" and
// "images" (links).
nlohmann::json MeasurementDetailJson(const records::MeasurementRecord& record);
nlohmann::json ComparisonDetailJson(const records::ComparisonRecord& comparison);

std::string SpectraSvg(const records::MeasurementRecord& record);
// The PNG preview of the recorded image of `geometry`; nothing when the
// record holds none.
std::optional<std::vector<std::uint8_t>> ImagePng(const records::MeasurementRecord& record,
                                                  const std::string& geometry);

}  // namespace vantorel::lab
