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
  // Replace an existing result folder (see WriteResultFolder).
  bool force = false;
  // Time stamp written into the files; empty means "now" at writing time.
  // Fixed by tests so that output is reproducible.
  std::optional<std::chrono::system_clock::time_point> created;
};

}  // namespace vantorel::exporter
