// Detached threads through the standard library (both targets).
#include "platform/Thread.h"

#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace Platform {

bool StartDetachedThread(std::function<void()> work) {
  if (!work) return false;
  try {
    std::thread(std::move(work)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace Platform
