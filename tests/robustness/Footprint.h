// Footprint: how much of the machine a running process holds, read from
// /proc: resident memory, open descriptors and threads. Used to show that
// the driver stays flat under long runs.
//
// Threads: pure reads of /proc; callable from any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace robustness {

struct Footprint {
  std::int64_t rssKb = 0;  // VmRSS
  int descriptors = 0;     // entries of /proc/<pid>/fd
  int threads = 0;         // Threads
};

// Nullopt when the process does not exist (or /proc cannot be read).
std::optional<Footprint> ReadFootprint(pid_t pid);

// Mean RSS and the highest descriptor and thread counts of a series.
struct FootprintSummary {
  double meanRssKb = 0;
  std::int64_t maxRssKb = 0;
  int maxDescriptors = 0;
  int minDescriptors = 0;
  int maxThreads = 0;
};
FootprintSummary Summarise(const std::vector<Footprint>& samples);
std::string Describe(const FootprintSummary& summary);

}  // namespace robustness
