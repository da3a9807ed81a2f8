#include "robustness/Footprint.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace robustness {

std::optional<Footprint> ReadFootprint(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  std::ifstream status(base + "/status");
  if (!status) return std::nullopt;
  Footprint footprint;
  bool sawRss = false;
  std::string line;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    if (key == "VmRSS:") {
      fields >> footprint.rssKb;
      sawRss = true;
    } else if (key == "Threads:") {
      fields >> footprint.threads;
    }
  }
  DIR* fds = ::opendir((base + "/fd").c_str());
  if (fds == nullptr || !sawRss) {
    if (fds != nullptr) ::closedir(fds);
    return std::nullopt;
  }
  while (const dirent* entry = ::readdir(fds)) {
    if (entry->d_name[0] != '.') ++footprint.descriptors;
  }
  ::closedir(fds);
  return footprint;
}

FootprintSummary Summarise(const std::vector<Footprint>& samples) {
  FootprintSummary summary;
  if (samples.empty()) return summary;
  double total = 0;
  summary.minDescriptors = samples.front().descriptors;
  for (const Footprint& s : samples) {
    total += static_cast<double>(s.rssKb);
    summary.maxRssKb = std::max(summary.maxRssKb, s.rssKb);
    summary.maxDescriptors = std::max(summary.maxDescriptors, s.descriptors);
    summary.minDescriptors = std::min(summary.minDescriptors, s.descriptors);
    summary.maxThreads = std::max(summary.maxThreads, s.threads);
  }
  summary.meanRssKb = total / static_cast<double>(samples.size());
  return summary;
}

std::string Describe(const FootprintSummary& summary) {
  char text[160];
  std::snprintf(text, sizeof text, "RSS mean %.0f KiB (max %lld KiB), fds %d..%d, threads <= %d",
                summary.meanRssKb, static_cast<long long>(summary.maxRssKb), summary.minDescriptors,
                summary.maxDescriptors, summary.maxThreads);
  return text;
}

}  // namespace robustness
