// Windows interrupt handling: a console control handler that takes Ctrl-C
// and Ctrl-Break (and only those) and sets a lock-free flag. The console
// calls it on a thread of its own.
#include "platform/Interrupt.h"

#include <windows.h>

#include <atomic>
#include <mutex>

namespace Platform {
namespace {

std::atomic<bool> g_interrupted{false};
std::mutex g_mutex;
int g_watches = 0;  // guarded by g_mutex

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted.store(true);
  return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  std::lock_guard lock(g_mutex);
  if (g_watches++ != 0) return;
  g_interrupted.store(false);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  std::lock_guard lock(g_mutex);
  if (--g_watches != 0) return;
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
}

bool InterruptWatch::Interrupted() const { return g_interrupted.load(); }

}  // namespace Platform
