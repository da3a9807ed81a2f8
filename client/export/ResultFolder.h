// ResultFolder: writes a whole result folder for one measurement or sample.
//
//   result.json            summary with every value (JsonWriter.h)
//   spectra.csv, lab.csv   tables (CsvWriter.h)
//   result.cxf             CxF3 document (CxfWriter.h)
//   spectra.svg            chart of the reflectance curves (SvgPlot.h)
//   cgats/<geometry>.ti3   one CGATS file per geometry (Ti3Writer.h)
//   images/<geometry>.exr  each image as received
//   images/<geometry>.png  its 8-bit sRGB preview (PngPreview.h)
//
// The folder appears complete or not at all (StagedFolder.h). Faults in the
// data do not fail the export; they are skipped and reported as warnings:
// keys that are no listed geometry, a geometry whose spectrum is not finite
// (no .ti3), an empty image (no files) and an image that cannot be decoded
// (the .exr is kept, no .png).
//
// Threads: no shared state; concurrent calls for different targets are safe.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "client/export/ExportRequest.h"

namespace vantorel::exporter {

struct ExportResult {
  bool ok = false;
  std::string error;                  // set when !ok: what failed, with the path
  std::vector<std::string> files;     // written files relative to the folder, '/'-separated
  std::vector<std::string> warnings;  // data that was skipped, one sentence each
};

// Writes the folder `dir` from `request`. Refused when request.data is null,
// when `dir` exists and request.force is false, or when `dir` exists and is
// not a result folder (see StagedFolder). Blocks for the file I/O. Never
// throws except std::bad_alloc.
ExportResult WriteResultFolder(const std::filesystem::path& dir, const ExportRequest& request);

}  // namespace vantorel::exporter
