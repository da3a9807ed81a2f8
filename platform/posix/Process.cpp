// POSIX process exit.
#include "platform/Process.h"

#include <unistd.h>

#include <cstdlib>

namespace Platform {

void ExitImmediately(int code) { _exit(code); }

void ExitNormally(int code) { std::exit(code); }

}  // namespace Platform
