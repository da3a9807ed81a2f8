#include "sim/instrument/JobStore.h"

#include <algorithm>

#include "colour/Utf8.h"

namespace instrument {

JobRecord* JobStore::Find(std::string_view identifier) {
  const auto it = std::find_if(jobs_.begin(), jobs_.end(), [identifier](const JobRecord& job) {
    return job.identifier == identifier;
  });
  return it == jobs_.end() ? nullptr : &*it;
}

bool JobStore::Put(JobRecord job) {
  const bool replacing = Find(job.identifier) != nullptr;
  if (!replacing && jobs_.size() >= kMaxJobs) return false;
  Remove(job.identifier);
  jobs_.push_back(std::move(job));
  return true;
}

bool JobStore::Remove(std::string_view identifier) {
  const auto it = std::find_if(jobs_.begin(), jobs_.end(), [identifier](const JobRecord& job) {
    return job.identifier == identifier;
  });
  if (it == jobs_.end()) return false;
  jobs_.erase(it);
  return true;
}

std::string MakeOf(const JobRecord& job) {
  for (const auto& [name, value] : job.displayTags) {
    if (name == "DisplayMake") return colour::EncodeUtf8(value);
  }
  return {};
}

std::size_t MeasuredCount(const JobRecord& job) {
  return static_cast<std::size_t>(std::count_if(job.samples.begin(), job.samples.end(),
                                                [](const SamplePtr& s) { return s != nullptr; }));
}

std::int32_t IdleState(const JobRecord& job) {
  const bool complete = !job.samples.empty() && MeasuredCount(job) == job.samples.size();
  return complete ? kJobMeasured : kJobStored;
}

}  // namespace instrument
