// Windows time: the performance counter and Sleep.
#include "platform/Time.h"

#include <windows.h>

namespace Platform {
namespace {

// Counts per second of the performance counter; fixed at system start and
// never 0 on Windows XP and later (read once, race-free: every thread reads
// the same value).
std::uint64_t CounterFrequency() {
  static const std::uint64_t frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart > 0 ? static_cast<std::uint64_t>(value.QuadPart) : 1u;
  }();
  return frequency;
}

}  // namespace

// The performance counter rather than GetTickCount64: the tick count moves
// in steps of the system timer (10 to 16 ms), and under Wine it is a copy
// the wine server refreshes only when it gets to run, so it stands still
// while the server is busy (a new prefix writing its registry) and a time-out
// measured with it comes out wrong by that much. The counter is read in the
// calling process and is exact to well below a millisecond.
std::uint64_t TickCountMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const std::uint64_t counts = static_cast<std::uint64_t>(now.QuadPart);
  const std::uint64_t frequency = CounterFrequency();
  // Split so that counts * 1000 cannot overflow.
  return counts / frequency * 1000u + counts % frequency * 1000u / frequency;
}

void SleepMs(std::uint32_t ms) { Sleep(ms); }

}  // namespace Platform
