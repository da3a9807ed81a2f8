// ExportRequest: what the result-folder writers are asked to write, one
// measurement (or one sample) of one job as the driver answered it.
//
// Threads: a plain value that borrows the measurement data; the data must
// outlive every call that is given the request and must not change meanwhile.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "client/export/SampleStatistics.h"
#include "messages/MeasurementRecords.h"

namespace vantorel::exporter {

struct ExportRequest {
  // The job's name as the user gave it: any bytes, possibly invalid UTF-8 or
  // full of markup characters; every writer escapes or replaces what its
  // format cannot hold.
  std::string job;
  // The driver's result code for the fetch (0 success).
  std::int32_t result = 0;
  // Set for a single sample, empty for the combined measurement of a job.
  std::optional<std::int32_t> sampleIndex;
  // Borrowed, not owned. Null is refused by WriteResultFolder; the string
  // writers treat it as a result without geometries.
  const VantorelMeasurementsFull* data = nullptr;
  // Borrowed, not owned: for a combined measurement, the spread of the
  // samples it is the mean of (see SampleStatistics.h); null when the samples
  // were not read. Ignored for a single sample.
  const SampleStatistics* statistics = nullptr;
  // Replace an existing result folder (see WriteResultFolder).
  bool force = false;
  // Time stamp written into the files; empty means "now" at writing time.
  // Fixed by tests so that output is reproducible.
  std::optional<std::chrono::system_clock::time_point> created;
};

// The number of samples the written values stand for: 1 for a single sample,
// the statistics' count for a combined measurement, nothing when unknown.
inline std::optional<std::size_t> SampleCountOf(const ExportRequest& request) {
  if (request.sampleIndex) return 1;
  if (request.statistics != nullptr) return request.statistics->sampleCount;
  return std::nullopt;
}

// The spread of `angle` over the samples, or null for a single sample, for
// unread samples and for a geometry no sample held.
inline const LabSpread* SpreadOf(const ExportRequest& request, SpectrumAngle angle) {
  if (request.sampleIndex || request.statistics == nullptr) return nullptr;
  return request.statistics->Find(angle);
}

}  // namespace vantorel::exporter
