// JobList: the driver's job list as vantorelctl's commands consult it before
// they act, so that a command can refuse what would lose data or hold the
// driver (a job of that name already stored, a job still measuring, a job
// not stored) and say so in the user's terms, and so that every command
// reports a missing instrument session with the same code.
//
// Threads: belongs to the thread that runs the command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/Client.h"
#include "client/JobStates.h"
#include "client/vantorelctl/DriverLink.h"

namespace vantorel::ctl {

// Driver job states (JobAdvancedInfo::state).

struct JobList {
  Status status;
  std::vector<JobAdvancedInfo> jobs;

  // The first job named `name` byte for byte (as the driver looks jobs up).
  const JobAdvancedInfo* Find(const std::string& name) const;
  // The first job listed as measuring.
  const JobAdvancedInfo* Measuring() const;
};

// The job list, on a connection of its own.
JobList ListJobs(DriverLink& link);

// "measured, 2 samples": how `add-job` describes a job it will not replace.
std::string JobSummary(const JobAdvancedInfo& job);

// Checks that job `name` can be fetched now (measure, sample, compare's
// job: sides): the list answers, the job is stored, has samples, is not
// measuring, and `index` (a sample) lies within its samples. Nothing when it
// can, else the failure reported (with its next step) and its exit code in
// `exitCode`. `job` receives the job's entry.
bool CheckFetchable(Session& session, DriverLink& link, const std::string& name,
                    std::optional<std::int32_t> index, JobAdvancedInfo& job, int& exitCode);

}  // namespace vantorel::ctl
