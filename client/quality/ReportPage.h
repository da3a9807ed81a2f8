// ReportPage: one stored comparison as a page to print or file (report.html)
// and as the same facts for programs (JSON).
//
// The page is one self-contained HTML5 document: styles inline, pictures as
// inline SVG, no script and no reference to anything outside it, so it shows
// the same offline, attached to a mail or years later. It prints on A4 black
// on white (table rows and pictures are not split across pages), and the
// verdict reads without colour. It shows the verdict, the standard, the
// batch, formula and tolerances, the per-geometry table, the ΔE bars and the
// a*b* panels of qc.svg (QcSvg.h), the flop indices, and the comparison's id
// and time. Every text from the records is escaped, so a name cannot add
// markup.
//
// JSON (camelCase): {"comparison", "time", "operator", "instrument",
// "verdict": "pass"|"fail", "standard": {"name", "version", "note",
// "source", "time", "tolerances": [{"geometry", "tolerance"}]}, "batch":
// {"record", "source", "job", "make", "time", "operator", "instrument",
// "samples", "spread": [{"geometry", "stdev": [L,a,b], "range": [L,a,b]}]},
// "formula", "formulaLabel", "overrides", "tolerances": [{"geometry",
// "tolerance"}] (those the comparison applied), "geometries": [{"geometry",
// "standard": [L,a,b], "batch": [L,a,b], "dL", "da", "db", "dC", "dH",
// "deltaE", "tolerance", "status"}], "flopIndex": {"standard", "batch"}}.
// What is unknown is null (a standard or batch without its record gives
// only what the comparison itself keeps); numbers are rounded to 4
// decimals.
//
// Threads: pure functions.
#pragma once

#include <string>

#include "client/records/RecordTypes.h"
#include "nlohmann/json.hpp"

namespace vantorel::quality {

struct ReportInput {
  const records::ComparisonRecord& comparison;
  const records::StandardRecord* standard = nullptr;  // the version compared with, if known
  const records::MeasurementRecord* batch = nullptr;  // the batch's record, if any
};

std::string ReportHtml(const ReportInput& input);

nlohmann::json ReportJson(const ReportInput& input);

}  // namespace vantorel::quality
