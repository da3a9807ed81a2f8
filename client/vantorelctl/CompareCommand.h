// CompareCommand: `vantorelctl compare STANDARD BATCH`, a batch against its
// standard per measurement geometry (see README, "Quality control").
//
// Each side is a result folder (measure --out), a CxF3 file, or "job:NAME"
// measured by the driver now. Exit codes: 0 every geometry on both sides
// passes, 5 one fails; 2 bad input (unreadable side, no common geometry,
// bad tolerance); 1 and 3 as for the other subcommands when a job: side
// cannot be fetched; 4 when --out cannot be written.
//
// Threads: each call belongs to the calling thread.
#pragma once

#include <optional>
#include <string>

#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {

struct CompareOptions {
  std::string standard;
  std::string batch;
  std::string formula = "de2000";   // de2000, de94, cmc, de76
  std::optional<double> tolerance;  // one for every geometry
  std::string toleranceFile;        // or one per geometry (Tolerances.h)
  std::string outDir;               // write qc.json, qc.csv, qc.svg here
  bool force = false;               // replace an earlier QC folder
};

int CompareCommand(Session& session, const CompareOptions& options);

}  // namespace vantorel::ctl
