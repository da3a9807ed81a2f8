// Helpers shared by the benchmark programs: medians, the CPU placement of
// the process, and reading the few options they take.
//
// Linux only. Threads: plain functions; PinToCpu affects the calling thread
// and everything it starts afterwards (threads and child processes).
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d);

// The value at fraction `p` (0..1) of the sorted values; 0 for none.
double Percentile(std::vector<double> values, double p);
inline double Median(const std::vector<double>& values) { return Percentile(values, 0.5); }

// Restricts the calling thread, and every thread and process it starts from
// now on, to CPU `cpu`. False when the system refuses.
bool PinToCpu(int cpu);

// "free" or "pinned to CPU n", for the report.
std::string Placement(int cpu);

// The value after `--name` among the arguments, or `fallback`.
int IntOption(int argc, char** argv, const std::string& name, int fallback);

// Exits with status 1 after printing "<program>: <what>".
[[noreturn]] void Fail(const std::string& what);

}  // namespace bench
