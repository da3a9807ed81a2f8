// RecordTypes: what the lab's record store keeps, as plain values: a
// measurement (per sample and geometry its spectrum, L*a*b*, texture and
// optionally image), a standard of the library (one version of a name), a
// comparison of a batch with a standard, and the rows that history and
// trend list. Geometry names are the protocol's ("r45as45"); times are UTC
// text "YYYY-MM-DDTHH:MM:SSZ", which sorts as it reads.
//
// Threads: plain values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantorel::records {

using Lab3 = std::array<double, 3>;  // L*, a*, b*

struct GeometryReading {
  std::string geometry;
  std::optional<Lab3> lab;       // absent when the answer held only an image
  std::vector<double> spectrum;  // 31 values, or none
  std::optional<std::array<double, 7>> texture;
  std::vector<std::uint8_t> exr;  // empty unless images are recorded
};

// One sample of a job (index from 0), or the combined measurement (index -1).
struct SampleReading {
  int index = -1;
  std::vector<GeometryReading> geometries;
};

// How far the samples spread around their mean, per geometry and component.
struct GeometrySpread {
  std::string geometry;
  std::array<std::optional<double>, 3> mean;
  std::array<std::optional<double>, 3> stdev;
  std::array<std::optional<double>, 3> range;
};

struct MeasurementRecord {
  std::int64_t id = 0;  // given by the store
  std::string time;     // given by the store when empty
  std::string operatorName;
  std::string instrument;  // the --instrument label, may be empty
  std::string host;        // the driver's host and port
  int port = 0;
  std::string job;
  std::string make;
  int sampleCount = 0;             // samples the combined values are the mean of
  std::optional<int> sampleIndex;  // set for a single sample (`vantorelctl sample`)
  SampleReading combined;          // what `measure` fetched (or the one sample)
  std::vector<SampleReading> samples;
  std::vector<GeometrySpread> spread;
};

struct GeometryLab {
  std::string geometry;
  Lab3 lab{};
};

struct GeometryTolerance {
  std::string geometry;  // "*" for every geometry not named
  double tolerance = 0.0;
};

// One version of a named standard.
struct StandardRecord {
  std::int64_t id = 0;                       // given by the store
  std::string name;                          // Unicode text, compared exactly
  int version = 0;                           // given by the store: 1, 2, ...
  std::string time;                          // given by the store when empty
  std::string source;                        // what it was made from: a path, "job:NAME", "#ID"
  std::optional<std::int64_t> sourceRecord;  // the measurement record it came from
  std::string formula = "de2000";
  std::vector<GeometryTolerance> tolerances;  // "*" entry: the default
  std::string note;
  std::vector<GeometryLab> values;
  bool removed = false;  // hidden from lists and new comparisons
};

struct ComparisonRowRecord {
  std::string geometry;
  std::string status;  // "pass", "fail", "only in standard", "only in batch"
  double tolerance = 0.0;
  std::optional<Lab3> standardLab;
  std::optional<Lab3> batchLab;
  // Set when both sides have the geometry.
  std::optional<double> dL, da, db, dC, dH, deltaE;
};

struct ComparisonRecord {
  std::int64_t id = 0;  // given by the store
  std::string time;     // given by the store when empty
  std::string operatorName;
  std::string instrument;
  std::optional<std::int64_t> standardId;  // the library's standard version, if any
  std::string standardName;                // its name (or empty)
  std::optional<int> standardVersion;
  std::string standardSource;               // "std:NAME", a path, "job:NAME", "#ID"
  std::optional<std::int64_t> batchRecord;  // the batch's measurement record, if any
  std::string batchSource;
  std::string formula;
  std::string overrides;  // JSON object of what the command line overrode, "{}" for none
  bool passed = false;
  std::optional<double> standardFlop;
  std::optional<double> batchFlop;
  std::vector<ComparisonRowRecord> rows;
};

struct HistoryQuery {
  std::optional<std::string> job;
  std::optional<std::string> standard;  // records compared with this standard (any version)
  std::optional<std::string> since;     // UTC time text; records at or after it
  int limit = 50;
};

struct ComparisonVerdict {
  std::int64_t id = 0;
  std::string standard;
  std::optional<int> version;
  bool passed = false;
};

struct HistoryEntry {
  std::int64_t id = 0;
  std::string time;
  std::string operatorName;
  std::string instrument;
  std::string job;
  std::string make;
  int samples = 0;
  std::vector<ComparisonVerdict> comparisons;
};

struct TrendValue {
  std::string geometry;
  std::optional<double> deltaE;
  double tolerance = 0.0;
  std::string status;
};

// One comparison against the standard, oldest first in a trend.
struct TrendPoint {
  std::int64_t comparison = 0;
  std::string time;
  int version = 0;
  std::optional<std::int64_t> batchRecord;
  std::string batchSource;
  std::string job;  // the batch record's job, if any
  bool passed = false;
  std::vector<TrendValue> values;
};

enum class EntryKind { kNone, kMeasurement, kComparison };

// One run of a job on an instrument, as the lab service saw it: started
// (by a user of the service, or noticed while polling), then measured or
// stopped. The first fetch of a measured run records it once; later fetches
// return that record until the job runs again.
struct RunRecord {
  std::int64_t id = 0;     // given by the store
  std::string instrument;  // the service's name for the instrument
  std::string job;
  int samples = 0;
  std::string started;                     // given by the store when empty
  std::string state = "measuring";         // "measuring", "measured", "stopped"
  std::optional<std::int64_t> durationMs;  // from start to measured
  std::optional<std::int64_t> record;      // the measurement recorded for this run
};

}  // namespace vantorel::records
