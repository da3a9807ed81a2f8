// Polling: following a job on the instrument until it is measured. Every
// poll is one job-list request on a connection of its own (DriverLink), so
// the driver is free between polls and a second terminal (`cancel`, `jobs`)
// gets in within one poll interval.
//
// Threads: belongs to the thread that runs the command.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "client/vantorelctl/DriverLink.h"
#include "client/vantorelctl/ProgressLine.h"

namespace vantorel::ctl {

// How often the job list is read while a job measures.
inline constexpr std::uint32_t kJobPollMs = 250;

enum class WaitEnd {
  kMeasured,     // the job reached "measured"
  kStopped,      // listed as stored again (cancelled, replaced) or never started
  kGone,         // no longer listed (deleted)
  kTimedOut,     // waitTimeoutMs passed; the job goes on measuring
  kInterrupted,  // the user interrupted; the job goes on measuring
  kFailed,       // a job-list request failed: `status`
};

struct JobWait {
  WaitEnd end = WaitEnd::kFailed;
  Status status;        // the failed request, for kFailed
  std::string problem;  // why not measured, for the other ends
  std::uint64_t elapsedMs = 0;
  bool measured() const { return end == WaitEnd::kMeasured; }
};

// Polls the job list every kJobPollMs until `name` is measured, has stopped
// (listed as stored after measuring, or still stored 2 s after the start
// when `startedByUs`), is gone, waitTimeoutMs has passed (0: no limit) or
// `interrupted` returns true. Shows the elapsed time on `line`.
JobWait WaitForJob(DriverLink& link, const std::string& name, std::uint32_t waitTimeoutMs,
                   ProgressLine& line, const std::function<bool()>& interrupted,
                   bool startedByUs = true);

}  // namespace vantorel::ctl
