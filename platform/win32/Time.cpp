// Windows time: GetTickCount64 and Sleep.
#include "platform/Time.h"

#include <windows.h>

namespace Platform {

std::uint64_t TickCountMs() { return GetTickCount64(); }

void SleepMs(std::uint32_t ms) { Sleep(ms); }

}  // namespace Platform
