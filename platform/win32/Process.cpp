// Windows process exit.
#include "platform/Process.h"

#include <windows.h>

#include <cstdlib>

namespace Platform {

void ExitImmediately(int code) { ExitProcess(static_cast<UINT>(code)); }

void ExitNormally(int code) { std::exit(code); }

}  // namespace Platform
