// Platform time: a monotonic millisecond tick count and sleeping.
//
// Threads: both functions may be called from any thread.
#pragma once

#include <cstdint>

namespace Platform {

// Milliseconds since an arbitrary fixed point (system start on Windows);
// monotonic, never wraps in practice (64 bits).
std::uint64_t TickCountMs();

// Blocks the calling thread for at least `ms` milliseconds.
void SleepMs(std::uint32_t ms);

}  // namespace Platform
