// RecordCommands: the subcommands of the lab's records: history, show,
// standard add|list|show|remove, trend and report. Each opens the lab's
// database (LabStore.h; exit 6 when it cannot), prints a table or with
// --json one object, and names the next step on failure.
//
// Threads: each call belongs to the calling thread.
#pragma once

#include <optional>
#include <string>

#include "client/vantorelctl/LabStore.h"
#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {

struct HistoryOptions {
  std::string job;       // empty: every job
  std::string standard;  // empty: compared or not
  std::string since;     // YYYY-MM-DD[THH:MM] UTC, empty: all
  int limit = 50;
};
int HistoryCommand(Session& session, const HistoryOptions& options);

// `id` is "#ID" or "ID": a measurement (summary, or its result folder
// written again with outDir) or a comparison (its table).
int ShowCommand(Session& session, const std::string& id, const std::string& outDir, bool force);

struct StandardAddOptions {
  std::string name;
  std::string source;  // result folder, CxF3 file, job:NAME, #ID
  std::optional<double> tolerance;
  std::string toleranceFile;
  std::string formula = "de2000";
  std::string note;
  bool replace = false;  // a name that exists gets a new version
  RecordOptions record;  // for a job: source measured now
};
int StandardAddCommand(Session& session, const StandardAddOptions& options);
int StandardListCommand(Session& session);
int StandardShowCommand(Session& session, const std::string& name);
int StandardRemoveCommand(Session& session, const std::string& name);

// `standard` is "std:NAME" or "NAME"; outDir gets trend.csv and trend.svg.
int TrendCommand(Session& session, const std::string& standard, const std::string& since,
                 const std::string& outDir, bool force);

// The report page of a recorded comparison: written to outFile (else
// printed), or its facts as JSON with --json.
int ReportCommand(Session& session, const std::string& id, const std::string& outFile, bool force);

}  // namespace vantorel::ctl
