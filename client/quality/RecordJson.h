// RecordJson: the lab records as JSON, one shape for every program that
// shows them (vantorelctl --json and the lab service): a standard, a
// history row, a point of a standard's trend. Optional values are null.
//
// Threads: pure functions.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>

#include "client/records/RecordTypes.h"

namespace vantorel::quality {

// A value, or null when it is absent.
template <typename T>
nlohmann::json OrNull(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// {"name", "version", "time", "source", "sourceRecord", "formula",
// "tolerances": {GEOMETRY|"*": tolerance}, "note", "geometries": N,
// "removed"}, with "values": [{"geometry", "lab": [L, a, b]}] when asked.
nlohmann::json StandardJson(const records::StandardRecord& standard, bool withValues);

// {"id", "time", "operator", "instrument", "job", "make", "samples",
// "comparisons": [{"id", "standard", "version", "pass"}]}.
nlohmann::json HistoryJson(const records::HistoryEntry& entry);

// {"comparison", "time", "version", "batchRecord", "batch", "pass",
// "geometries": [{"geometry", "deltaE", "tolerance", "status"}]}.
nlohmann::json TrendPointJson(const records::TrendPoint& point);

}  // namespace vantorel::quality
