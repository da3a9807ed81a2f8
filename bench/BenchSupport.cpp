#include "BenchSupport.h"

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace bench {

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
  return values[at];
}

bool PinToCpu(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

std::string Placement(int cpu) {
  return cpu < 0 ? "free placement" : "client and server pinned to CPU " + std::to_string(cpu);
}

int IntOption(int argc, char** argv, const std::string& name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == "--" + name) return std::atoi(argv[i + 1]);
  }
  return fallback;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

}  // namespace bench
