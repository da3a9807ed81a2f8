// SampleSpreadFetch: reads the samples of a measured job one by one after its
// combined measurement, so that `measure` can state how many samples the
// mean is of and how far they spread (SampleStatistics.h).
//
// Uses the job list for the job's state and sample count (both untrusted:
// a job that is not listed as measured, or lists no samples, gets no
// statistics), then MsgGetSample for each index into one reused answer, so
// that only one sample is held in memory at a time. Each request goes
// through the DriverLink on a connection of its own.
//
// Threads: belongs to the thread that owns the client.
#pragma once

#include <functional>

#include <optional>
#include <string>

#include "client/Client.h"
#include "client/export/SampleStatistics.h"
#include "client/vantorelctl/DriverLink.h"
#include "client/vantorelctl/ProgressLine.h"

namespace vantorel::ctl {

struct SpreadFetch {
  // The statistics over every sample; empty when the job is not listed as
  // measured or a request failed.
  std::optional<exporter::SampleStatistics> statistics;
  // Why there are none, one sentence; empty when there are or when the job
  // is simply not measured.
  std::string problem;
};

// Called with each sample as it is read (index from 0), before the next one
// replaces it.
using SampleSink = std::function<void(std::int32_t index, const VantorelMeasurementsFull& sample)>;

// The spread of job `name`'s samples. `line` shows which sample is read;
// `sink`, when set, sees every sample.
SpreadFetch FetchSampleSpread(DriverLink& link, const std::string& name, ProgressLine& line,
                              const SampleSink& sink = {});

}  // namespace vantorel::ctl
