// Recording: fetching a job's measurement from the driver the way `measure`
// does (combined values, then each sample for their spread), and keeping it
// in the lab's record store. Shared by measure, sample, compare (a job:
// side) and `standard add` (a job: source).
//
// Threads: belongs to the command's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client/export/SampleStatistics.h"
#include "client/records/RecordTypes.h"
#include "client/vantorelctl/DriverLink.h"
#include "client/vantorelctl/LabStore.h"

namespace vantorel::ctl {

struct FetchedJob {
  std::string job;
  std::optional<std::int32_t> index;  // a single sample
  VantorelMeasurementsFull data;      // what the driver answered
  std::optional<exporter::SampleStatistics> spread;
  std::vector<records::SampleReading> samples;  // kept when recording
};

// Fetches job `name` (or its sample `index`) once the job list shows it can
// be. For the combined measurement `samples` says what of its samples is
// read: nothing, their spread, or their spread and readings (images only
// with `withImages`). Returns kExitOk, or the exit code of the failure it
// reported.
enum class SampleReads { kNone, kSpread, kKeep };
int FetchJob(Session& session, DriverLink& link, const std::string& name,
             std::optional<std::int32_t> index, SampleReads samples, bool withImages,
             FetchedJob& out);

// The outcome of recording: the record's id, or why it failed (with the
// exit code: 6, or 2 for an unusable --db value).
struct Recorded {
  std::optional<std::int64_t> id;
  std::string problem;
  std::string hint;
  int exitCode = kExitOk;

  bool Failed() const { return exitCode != kExitOk; }
};

// Records a fetched job as one measurement (nothing when !options.record).
Recorded RecordFetched(const Session& session, LabStore& store, const RecordOptions& options,
                       const FetchedJob& fetched);

// "recorded as #ID" (`what`: "recorded", "comparison recorded"): on
// standard output, or on standard error in JSON mode.
void PrintRecorded(Session& session, const std::string& what, std::int64_t id);

}  // namespace vantorel::ctl
