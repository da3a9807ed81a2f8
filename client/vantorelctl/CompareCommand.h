// CompareCommand: `vantorelctl compare STANDARD BATCH`, a batch against its
// standard per measurement geometry (see README, "Quality control").
//
// Each side is a result folder (measure --out), a CxF3 file, "job:NAME"
// measured by the driver now (and recorded), "#ID" (a recorded
// measurement), and the standard also "std:NAME" (the library's standard
// with its tolerances and formula, which options override). The comparison
// is recorded unless --no-record; a database that cannot be used is exit 6,
// which wins over a failed verdict's 5. Exit codes: 0 every geometry on both sides
// passes, 5 one fails; 2 bad input (unreadable side, no common geometry,
// bad tolerance); 1 and 3 as for the other subcommands when a job: side
// cannot be fetched; 4 when --out cannot be written.
//
// Threads: each call belongs to the calling thread.
#pragma once

#include <optional>
#include <string>

#include "client/quality/Comparison.h"
#include "client/vantorelctl/LabStore.h"
#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {

struct CompareOptions {
  std::string standard;
  std::string batch;
  // de2000, de94, cmc, de76; empty: the standard's (a library standard)
  // or de2000.
  std::string formula;
  std::optional<double> tolerance;  // one for every geometry
  std::string toleranceFile;        // or one per geometry (Tolerances.h)
  std::string outDir;               // write qc.json, qc.csv, qc.svg here
  bool force = false;               // replace an earlier QC folder
  RecordOptions record;             // what is recorded, and about whom
};

int CompareCommand(Session& session, const CompareOptions& options);

// The comparison's table and verdict, as `compare` prints them.
void PrintComparison(Session& session, const quality::Comparison& comparison);

}  // namespace vantorel::ctl
