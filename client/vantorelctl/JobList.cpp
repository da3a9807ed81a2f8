#include "client/vantorelctl/JobList.h"

#include "client/vantorelctl/ResultHints.h"

namespace vantorel::ctl {

const JobAdvancedInfo* JobList::Find(const std::string& name) const {
  for (const JobAdvancedInfo& job : jobs) {
    if (job.name == name) return &job;
  }
  return nullptr;
}

const JobAdvancedInfo* JobList::Measuring() const {
  for (const JobAdvancedInfo& job : jobs) {
    if (job.state == kJobMeasuring) return &job;
  }
  return nullptr;
}

JobList ListJobs(DriverLink& link) {
  JobsAnswer answer = link.Request([](Client& client) { return client.GetJobs(); });
  return JobList{std::move(answer.status), std::move(answer.jobs)};
}

std::string JobSummary(const JobAdvancedInfo& job) {
  return JobStateName(job.state) + ", " +
         Counted(static_cast<std::uint64_t>(job.sampleCount < 0 ? 0 : job.sampleCount), "sample");
}

bool CheckFetchable(Session& session, DriverLink& link, const std::string& name,
                    std::optional<std::int32_t> index, JobAdvancedInfo& job, int& exitCode) {
  const JobList list = ListJobs(link);
  HintContext context;
  context.command = session.command;
  context.job = name;
  context.index = index;
  context.connectTimeoutMs = session.connectTimeoutMs;
  if (!list.status.Ok()) {
    exitCode = Fail(session, list.status, NextStep(list.status, context));
    return false;
  }
  const JobAdvancedInfo* found = list.Find(name);
  if (found == nullptr) {
    exitCode = FailWith(session, kExitDriverCode, "job '" + name + "' is not stored",
                        "vantorelctl jobs lists the stored jobs");
    return false;
  }
  job = *found;
  if (job.state == kJobMeasuring) {
    exitCode = FailWith(session, kExitDriverCode,
                        "job " + name + " is still measuring: vantorelctl run " +
                            ShellArgument(name) + " --wait waits for it");
    return false;
  }
  if (job.sampleCount <= 0) {
    exitCode = FailWith(
        session, kExitDriverCode, "job '" + name + "' has no samples: there is nothing to fetch",
        "vantorelctl add-job " + ShellArgument(name) + " --samples N --replace gives it samples");
    return false;
  }
  if (index && *index >= job.sampleCount) {
    exitCode = FailWith(
        session, kExitUsage,
        "sample " + std::to_string(*index) + " is out of range: job " + name + " has " +
            Counted(static_cast<std::uint64_t>(job.sampleCount), "sample") +
            (job.sampleCount == 1 ? ", numbered 0"
                                  : ", numbered 0 to " + std::to_string(job.sampleCount - 1)));
    return false;
  }
  return true;
}

}  // namespace vantorel::ctl
