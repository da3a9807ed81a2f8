// POSIX interrupt handling: a SIGINT handler that only sets a lock-free flag.
#include "platform/Interrupt.h"

#include <signal.h>

#include <atomic>
#include <mutex>

namespace Platform {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

std::mutex g_mutex;
int g_watches = 0;                 // guarded by g_mutex
struct sigaction g_previous = {};  // guarded by g_mutex

extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

}  // namespace

InterruptWatch::InterruptWatch() {
  std::lock_guard lock(g_mutex);
  if (g_watches++ != 0) return;
  g_interrupted.store(false);
  // An interrupt ignored from the start (a background job of a shell without
  // job control) stays ignored.
  if (sigaction(SIGINT, nullptr, &g_previous) == 0 && g_previous.sa_handler == SIG_IGN) return;
  struct sigaction action = {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &g_previous);
}

InterruptWatch::~InterruptWatch() {
  std::lock_guard lock(g_mutex);
  if (--g_watches != 0) return;
  sigaction(SIGINT, &g_previous, nullptr);
}

bool InterruptWatch::Interrupted() const { return g_interrupted.load(); }

}  // namespace Platform
