// TrendFiles: how a standard's batches have drifted, from the comparisons
// the record store lists for it (oldest first):
//
//   trend.csv  one row per comparison and geometry:
//              comparison,time,version,batch,geometry,deltaE,tolerance,status
//              (batch is the batch record's job, else the batch's source;
//              text fields quoted as RFC 4180 asks, numbers with 4 decimals,
//              empty where a geometry has no ΔE)
//   trend.svg  one small panel per geometry: ΔE of each comparison, evenly
//              spaced in time order and labelled with dates, over a y axis
//              from 0; the tolerance as a red dashed step line (it may change
//              with the standard's version), points outside it filled red,
//              a vertical marker "vN" where the standard's version changes
//
// Text from the records (names, sources, geometries, times) is repaired to
// valid UTF-8 and escaped, so the files keep their syntax whatever it holds.
//
// Threads: pure functions, except WriteTrendFolder (file I/O).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "client/export/ResultFolder.h"
#include "client/records/RecordTypes.h"

namespace vantorel::quality {

std::string TrendCsv(const std::vector<records::TrendPoint>& points);

// `standard` is the standard's name, `formulaLabel` the difference's label
// ("dE00").
std::string TrendSvg(const std::vector<records::TrendPoint>& points, const std::string& standard,
                     const std::string& formulaLabel);

// Writes trend.csv and trend.svg into `dir`, which appears complete or not
// at all; an existing folder is replaced only when `force` allows it
// (exporter::StagedFolder). Blocks for the file I/O.
exporter::ExportResult WriteTrendFolder(const std::filesystem::path& dir, const std::string& csv,
                                        const std::string& svg, bool force);

}  // namespace vantorel::quality
