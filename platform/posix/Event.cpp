// POSIX events: a condition variable and a flag, shared between every holder
// of an Event and, for named events, registered by name inside the process.
#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace Platform {
namespace {

struct SharedState {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
};

// Named events alive in the process. Entries whose event has gone expire and
// are dropped on the next creation.
struct Registry {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<SharedState>, std::less<>> byName;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: usable at exit
  return *registry;
}

std::shared_ptr<SharedState> OpenState(std::string_view name) {
  if (name.empty()) return std::make_shared<SharedState>();
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (auto it = registry.byName.begin(); it != registry.byName.end();) {
    it = it->second.expired() ? registry.byName.erase(it) : std::next(it);
  }
  auto found = registry.byName.find(name);
  if (found != registry.byName.end()) {
    // The last holder may let go after the sweep above (releasing takes no
    // lock here): an event that has gone by now is replaced, never returned
    // empty.
    if (std::shared_ptr<SharedState> alive = found->second.lock()) return alive;
    auto state = std::make_shared<SharedState>();
    found->second = state;
    return state;
  }
  auto state = std::make_shared<SharedState>();
  registry.byName.emplace(std::string(name), state);
  return state;
}

}  // namespace

struct Event::Impl {
  std::shared_ptr<SharedState> state;
};

Event::Event(Impl* impl) : impl(impl) {}

Event::~Event() { delete impl; }

std::shared_ptr<Event> Event::Create(std::string_view name) {
  try {
    std::unique_ptr<Impl> impl(new Impl{OpenState(name)});
    std::unique_ptr<Event> event(new Event(impl.get()));
    impl.release();
    return std::shared_ptr<Event>(std::move(event));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool Event::Set() {
  SharedState& state = *impl->state;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.signalled = true;
  }
  state.changed.notify_all();
  return true;
}

EventWait Event::Wait(std::uint32_t timeoutMs) {
  SharedState& state = *impl->state;
  std::unique_lock<std::mutex> lock(state.mutex);
  if (timeoutMs == 0xFFFFFFFFu) {
    state.changed.wait(lock, [&] { return state.signalled; });
    return EventWait::Signalled;
  }
  const bool signalled = state.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                [&] { return state.signalled; });
  return signalled ? EventWait::Signalled : EventWait::TimedOut;
}

}  // namespace Platform
