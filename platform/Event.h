// Platform events: named manual-reset events for handing one outcome from a
// worker thread to a waiting thread.
//
// An Event is shared through std::shared_ptr: the waiter and every worker
// hold their own reference, so a worker that outlives its waiter (the waiter
// gave up after its time-out) still sets a live object. The underlying event
// is closed when the last reference goes away.
//
// Names: on Windows the event is a kernel object with a system-wide name; on
// POSIX the name is known inside the process only. Creating an event whose
// name is already in use gives the existing event (its state unchanged).
//
// Threads: Set and Wait may be called from any thread at the same time.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace Platform {

enum class EventWait { Signalled, TimedOut, Failed };

class Event {
 public:
  // Creates (or opens, see above) a manual-reset event, not signalled when
  // new. An empty name gives an unnamed event. Null on failure.
  static std::shared_ptr<Event> Create(std::string_view name);

  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Signals the event; it stays signalled (manual reset). False on failure.
  bool Set();

  // Waits until the event is signalled or `timeoutMs` milliseconds have
  // passed (0xFFFFFFFF: no limit; 0: just tests the state).
  EventWait Wait(std::uint32_t timeoutMs);

  struct Impl;  // per operating system

 private:
  explicit Event(Impl* impl);
  Impl* impl;  // owned
};

}  // namespace Platform
