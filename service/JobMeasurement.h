// JobMeasurement: a measured job as one record of the lab, once per run.
// The first request after a run fetches the combined values and every
// sample (for their spread) and records them together with the run's
// claim; later requests return that record, until the job runs again. A
// job that still measures is never read (the driver would wait for the
// instrument and end its session).
//
// Threads: runs inside an Instrument's work (its worker thread).
#pragma once

#include <optional>
#include <string>

#include "client/records/RecordTypes.h"
#include "service/ApiError.h"
#include "service/Instrument.h"

namespace vantorel::lab {

struct JobMeasurement {
  std::optional<ApiError> error;
  records::MeasurementRecord record;
  bool added = false;  // recorded by this request
};

JobMeasurement MeasureJob(Instrument& instrument, const std::string& job,
                          const std::string& operatorName);

}  // namespace vantorel::lab
