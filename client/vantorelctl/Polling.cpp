#include "client/vantorelctl/Polling.h"

#include <algorithm>

#include "client/vantorelctl/JobList.h"
#include "platform/Time.h"

namespace vantorel::ctl {
namespace {

// A job listed as stored this long after the run started has not started.
constexpr std::uint64_t kStartGraceMs = 2000;
// The pause between polls is slept in slices this long, so that an
// interrupt is answered at once.
constexpr std::uint32_t kSliceMs = 25;

}  // namespace

JobWait WaitForJob(DriverLink& link, const std::string& name, std::uint32_t waitTimeoutMs,
                   ProgressLine& line, const std::function<bool()>& interrupted, bool startedByUs) {
  JobWait wait;
  const std::uint64_t start = Platform::TickCountMs();
  const auto stop = [&] { return interrupted && interrupted(); };
  link.SetStop(stop);
  bool seenMeasuring = !startedByUs;
  for (;;) {
    if (stop()) {
      wait.end = WaitEnd::kInterrupted;
      wait.problem = "interrupted";
      break;
    }
    const JobList jobs = ListJobs(link);
    wait.elapsedMs = Platform::TickCountMs() - start;
    if (!jobs.status.Ok() && stop()) continue;  // the retries gave way to the interrupt
    if (!jobs.status.Ok()) {
      wait.end = WaitEnd::kFailed;
      wait.status = jobs.status;
      break;
    }
    const JobAdvancedInfo* job = jobs.Find(name);
    if (job == nullptr) {
      wait.end = WaitEnd::kGone;
      wait.problem = "job " + name + " is no longer listed (deleted while it measured)";
      break;
    }
    if (job->state == kJobMeasured) {
      line.Show("measuring " + name + ": done after " + Seconds(wait.elapsedMs), true);
      wait.end = WaitEnd::kMeasured;
      break;
    }
    if (job->state == kJobMeasuring) {
      seenMeasuring = true;
    } else if (seenMeasuring || wait.elapsedMs >= kStartGraceMs) {
      wait.end = WaitEnd::kStopped;
      wait.problem =
          "job " + name + " stopped before it was measured (" + JobStateName(job->state) + ")";
      break;
    }
    if (waitTimeoutMs != 0 && wait.elapsedMs >= waitTimeoutMs) {
      wait.end = WaitEnd::kTimedOut;
      wait.problem = "job " + name + " not measured within " + Seconds(waitTimeoutMs);
      break;
    }
    line.Show("measuring " + name + ": " + Seconds(wait.elapsedMs));
    const std::uint64_t pollStart = Platform::TickCountMs();
    while (!stop() && Platform::TickCountMs() - pollStart < kJobPollMs) {
      Platform::SleepMs(kSliceMs);
    }
  }
  link.SetStop({});
  return wait;
}

}  // namespace vantorel::ctl
