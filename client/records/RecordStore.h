// RecordStore: the lab's records (measurements, standards, comparisons) in
// one database, SQLite or PostgreSQL, behind one interface. Every write is
// one transaction: a process killed in the middle leaves no partial record.
// Measurements and comparisons draw their ids from one sequence, so "#ID"
// names exactly one of them.
//
// Threads: a store belongs to one thread at a time; several processes may
// use one database at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/records/RecordTypes.h"
#include "client/records/SqlConnection.h"

namespace vantorel::records {

// The outcome of a read: `status` says whether the database answered;
// `value` is empty when what was asked for does not exist.
template <typename T>
struct Found {
  StoreStatus status;
  std::optional<T> value;
};

// The schema version this build writes and reads.
inline constexpr int kSchemaVersion = 2;

class RecordStore {
 public:
  // Takes the connection and brings its schema to kSchemaVersion (creating
  // it in an empty database). A database of a newer schema is refused
  // without a change.
  static std::unique_ptr<RecordStore> Open(std::unique_ptr<SqlConnection> connection,
                                           StoreStatus& status);
  virtual ~RecordStore() = default;

  // Measurements. Sets record.id (and record.time when empty).
  virtual StoreStatus AddMeasurement(MeasurementRecord& record) = 0;
  virtual Found<MeasurementRecord> Measurement(std::int64_t id) = 0;
  // Newest first.
  virtual Found<std::vector<HistoryEntry>> History(const HistoryQuery& query) = 0;
  virtual Found<EntryKind> KindOf(std::int64_t id) = 0;

  // The make last given for a job by `add-job` (or recorded with it).
  virtual StoreStatus RememberMake(const std::string& job, const std::string& make) = 0;
  virtual Found<std::string> RememberedMake(const std::string& job) = 0;

  // Standards. Adds the next version of standard.name (1 for a new name;
  // a removed name comes back). Sets id, version and time.
  virtual StoreStatus AddStandard(StandardRecord& standard) = 0;
  // The newest version of a name that is not removed; with `version`, that
  // version whether removed or not.
  virtual Found<StandardRecord> Standard(const std::string& name,
                                         std::optional<int> version = std::nullopt) = 0;
  virtual Found<StandardRecord> StandardById(std::int64_t id) = 0;
  // The newest version of every name not removed, by name.
  virtual Found<std::vector<StandardRecord>> Standards() = 0;
  // Every version of a name, oldest first (removed ones too).
  virtual Found<std::vector<StandardRecord>> StandardVersions(const std::string& name) = 0;
  // Hides a name from Standards() and Standard(name); false in `value`
  // when no visible standard has that name.
  virtual Found<bool> RemoveStandard(const std::string& name) = 0;

  // Comparisons. Sets comparison.id (and time when empty).
  virtual StoreStatus AddComparison(ComparisonRecord& comparison) = 0;
  virtual Found<ComparisonRecord> Comparison(std::int64_t id) = 0;
  // Every comparison against any version of the named standard, oldest
  // first, from `since` on when given.
  virtual Found<std::vector<TrendPoint>> Trend(const std::string& name,
                                               const std::optional<std::string>& since) = 0;

  // Runs of jobs. StartRun adds a run (sets id and started); with
  // `unlessMeasuring` it adds none, and returns false in `value`, when the
  // newest run of that instrument and job is still measuring (another
  // service noticed it first). A run started explicitly stops the newest
  // one that still measures.
  virtual Found<bool> StartRun(RunRecord& run, bool unlessMeasuring) = 0;
  // Ends the newest run of the instrument and job that still measures:
  // "measured" (with its duration) or "stopped".
  virtual StoreStatus FinishRun(const std::string& instrument, const std::string& job,
                                const std::string& state,
                                std::optional<std::int64_t> durationMs) = 0;
  virtual Found<RunRecord> LatestRun(const std::string& instrument, const std::string& job) = 0;
  // Durations of the newest measured runs of that many samples, newest first.
  virtual Found<std::vector<std::int64_t>> RunDurations(const std::string& instrument, int samples,
                                                        int limit) = 0;
  // Records `record` as the measurement of run `runId`, in one transaction,
  // unless the run has one already: `value` is the run's record either way
  // (record.id is set only when this call added it).
  virtual Found<std::int64_t> RecordRun(std::int64_t runId, MeasurementRecord& record) = 0;
};

// The current UTC time as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcNow();

}  // namespace vantorel::records
