// JobStore: the jobs the instrument holds, in the order they were stored.
//
// Identifiers are unique: storing a job under an identifier that is already
// held replaces the old job (the new one goes to the end of the list, as if
// the old one had been deleted first).
//
// Threads: none of its own; the owner (VirtualInstrument) locks around it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/instrument/JobRecord.h"

namespace instrument {

class JobStore {
 public:
  JobStore() = default;
  explicit JobStore(std::vector<JobRecord> jobs) : jobs_(std::move(jobs)) {}

  // The job with this identifier, or null. The pointer is valid until the
  // next Put or Remove.
  JobRecord* Find(std::string_view identifier);

  // Stores `job`, replacing a job of the same identifier. False (nothing
  // changed) when kMaxJobs other jobs are held already.
  bool Put(JobRecord job);

  // Removes the job; false when no job has this identifier.
  bool Remove(std::string_view identifier);

  const std::vector<JobRecord>& Jobs() const { return jobs_; }

 private:
  std::vector<JobRecord> jobs_;
};

// The make of a job: the value of its display tag "DisplayMake" as UTF-8
// (invalid code points replaced), or empty when it has none.
std::string MakeOf(const JobRecord& job);

// Number of measured samples of the job.
std::size_t MeasuredCount(const JobRecord& job);

// The state of a job that is not measuring: measured (2004) when it has
// samples and all of them are measured, stored (2001) otherwise.
std::int32_t IdleState(const JobRecord& job);

}  // namespace instrument
