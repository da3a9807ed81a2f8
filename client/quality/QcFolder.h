// QcFolder: writes the files of a comparison into one folder:
//
//   qc.json  the whole comparison (QcReport.h)
//   qc.csv   one row per geometry (QcReport.h)
//   qc.svg   ΔE bars with tolerances and the a*, b* plane (QcSvg.h)
//
// The folder appears complete or not at all, and an existing one is replaced
// only when forced and when it is empty or an earlier QC or result folder
// (exporter::StagedFolder).
//
// Threads: no shared state.
#pragma once

#include <filesystem>

#include "client/export/ResultFolder.h"
#include "client/quality/Comparison.h"

namespace vantorel::quality {

// Blocks for the file I/O. The outcome lists the written files, or the error
// naming the path that failed.
exporter::ExportResult WriteQcFolder(const std::filesystem::path& dir, const Comparison& comparison,
                                     bool force);

}  // namespace vantorel::quality
