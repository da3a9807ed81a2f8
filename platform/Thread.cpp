// Detached threads through the standard library (both targets), kept for
// the next work item once they have finished one.
#include "platform/Thread.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace Platform {

namespace {

// Threads that finished their work wait here for the next one instead of
// ending. Under Wine, a thread started just after another thread of the
// process had ended was seen not to run at all for 15 to 20 s (fresh
// prefixes, a busy machine), and every connect request starts a worker:
// with parked threads a request starts a thread only when none is free.
// Invariant, under the mutex: parked == threads waiting - handed.size(), so
// every item handed over is taken by a waiting thread at once; an item
// never waits behind another one.
struct Parking {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> handed;
  std::size_t parked = 0;
};

Parking& ThePark() {
  static Parking* park = new Parking();  // never destroyed: its threads never end
  return *park;
}

void RunAndPark(std::function<void()> work) {
  Parking& park = ThePark();
  for (;;) {
    work();
    work = nullptr;  // what the item holds is released before the thread waits
    std::unique_lock lock(park.mutex);
    ++park.parked;
    park.wake.wait(lock, [&park] { return !park.handed.empty(); });
    work = std::move(park.handed.front());
    park.handed.pop_front();
  }
}

}  // namespace

bool StartDetachedThread(std::function<void()> work) {
  if (!work) return false;
  Parking& park = ThePark();
  {
    std::lock_guard lock(park.mutex);
    if (park.parked > 0) {
      --park.parked;
      park.handed.push_back(std::move(work));
      park.wake.notify_one();
      return true;
    }
  }
  try {
    std::thread(RunAndPark, std::move(work)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace Platform
