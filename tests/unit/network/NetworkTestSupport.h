// Helpers of the network tests: an error handler that records reports without
// allocating, allocation hooks that count and fail on demand, and a loopback
// client.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/Socket.h"

namespace nettest {

struct Report {
  void* source;
  std::int32_t code;
  char text[512];
};

// Installs the recording handler (and clears the record) for its lifetime;
// restores a silent handler afterwards.
class RecordedErrors {
 public:
  RecordedErrors();
  ~RecordedErrors();
  int Count() const;
  const Report& At(int index) const;
  void Clear();
};

// Installs counting hooks for its lifetime (forwarding to malloc/free).
// Failing can be switched on for one block size, for blocks above a size, or
// for every allocation made on one thread.
class CountingHooks {
 public:
  CountingHooks();
  ~CountingHooks();
  long Allocations() const;
  long Releases() const;
  bool SawSize(std::size_t size) const;  // among the blocks of 1 MiB or more
  void FailSize(std::size_t size);
  void FailAbove(std::size_t size);
  void FailOnThread(std::thread::id thread);
  void Reset();
};

// A port that was free a moment ago.
std::uint16_t FreePort();

// Connects to 127.0.0.1:port, retrying for up to `patienceMs` while nothing
// listens yet. kInvalidSocket when it never succeeds.
Platform::SocketHandle ConnectLoopback(std::uint16_t port, std::uint32_t patienceMs = 5000);

// Returns once the millisecond tick count has moved on. A handler that must
// end past a deadline of "now" calls it: the tick of some systems (Windows,
// Wine) advances in steps of several milliseconds, so a fixed short sleep
// may not reach the next one.
void SpendATick();

// Sends all bytes with the platform layer; false on failure.
bool SendAll(Platform::SocketHandle socket, const void* data, std::size_t count);

}  // namespace nettest
