// Platform time: a monotonic millisecond tick count and sleeping.
//
// Threads: both functions may be called from any thread.
#pragma once

#include <cstdint>

namespace Platform {

// Milliseconds since an arbitrary fixed point (about system start); monotonic,
// exact to the millisecond on both targets (CLOCK_MONOTONIC, the Windows
// performance counter), read without a system service that could lag behind
// (under Wine the tick count does), never wraps in practice (64 bits).
std::uint64_t TickCountMs();

// Blocks the calling thread for at least `ms` milliseconds.
void SleepMs(std::uint32_t ms);

}  // namespace Platform
