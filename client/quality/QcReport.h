// QcReport: a Comparison as data for programs: one JSON object (printed by
// `compare --json` and written as qc.json) and a CSV table (qc.csv).
//
// JSON: {"formula", "formulaLabel", "standard": {"source", "kind",
// "flopIndex"}, "batch": {...}, "geometries": [{"geometry", "status",
// "standard": {"L","a","b"} | null, "batch": ... | null, "dL", "da", "db",
// "dC", "dH", "dE" (null for a one-sided row), "tolerance", "pass" (null for
// a one-sided row)}], "onlyInStandard": [...], "onlyInBatch": [...],
// "compared", "failed", "pass"}. Numbers are rounded to 4 decimals.
//
// CSV: header "geometry,status,L_standard,a_standard,b_standard,L_batch,
// a_batch,b_batch,dL,da,db,dC,dH,dE,tolerance", one row per geometry in the
// comparison's order, empty fields where a side has no value.
//
// Threads: pure functions.
#pragma once

#include <string>

#include "client/quality/Comparison.h"
#include "nlohmann/json.hpp"

namespace vantorel::quality {

nlohmann::json ComparisonJson(const Comparison& comparison);

// `value` rounded to 4 decimals as the reports write numbers; null when it
// is not finite.
nlohmann::json Rounded(double value);

std::string ToQcCsv(const Comparison& comparison);

}  // namespace vantorel::quality
