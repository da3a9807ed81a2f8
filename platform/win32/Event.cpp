// Windows events: named kernel events (CreateEventW).
#include "platform/Event.h"

#include <windows.h>

#include <new>

#include "platform/win32/WideText.h"

namespace Platform {

struct Event::Impl {
  HANDLE handle;
};

Event::Event(Impl* impl) : impl(impl) {}

Event::~Event() {
  CloseHandle(impl->handle);
  delete impl;
}

std::shared_ptr<Event> Event::Create(std::string_view name) {
  const std::wstring wide = Win32::Utf8ToWide(name);
  HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, name.empty() ? nullptr : wide.c_str());
  if (handle == nullptr) return nullptr;
  try {
    std::unique_ptr<Impl> impl(new Impl{handle});
    std::unique_ptr<Event> event(new Event(impl.get()));
    impl.release();
    return std::shared_ptr<Event>(std::move(event));
  } catch (const std::bad_alloc&) {
    CloseHandle(handle);
    return nullptr;
  }
}

bool Event::Set() { return SetEvent(impl->handle) != 0; }

EventWait Event::Wait(std::uint32_t timeoutMs) {
  switch (WaitForSingleObject(impl->handle, timeoutMs)) {
    case WAIT_OBJECT_0:
      return EventWait::Signalled;
    case WAIT_TIMEOUT:
      return EventWait::TimedOut;
    default:
      return EventWait::Failed;
  }
}

}  // namespace Platform
