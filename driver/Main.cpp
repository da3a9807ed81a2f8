// Process entry of the driver: a GUI-subsystem program without a window on
// Windows, an ordinary foreground process on Linux. The command line is not
// consulted; the driver is configured by constants alone.
#include "driver/AllocationPolicy.h"
#include "driver/DriverInvoker.h"
#include "platform/Time.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr std::uint32_t kMainLoopPauseMs = 16;

int RunDriver() {
  // Large blocks (the image bytes of answers) stay warm from answer to answer.
  AllocationPolicy::Install();
  DriverInvoker driverInvoker;
  if (!driverInvoker.Init()) return 1;
  // The pause falls between serving windows only (Tick serves a client that
  // has just been accepted at once).
  for (;;) {
    if (driverInvoker.Tick()) Platform::SleepMs(kMainLoopPauseMs);
  }
}

}  // namespace

#if defined(_WIN32)
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunDriver(); }
#else
int main() { return RunDriver(); }
#endif
