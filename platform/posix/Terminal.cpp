// POSIX terminal detection.
#include "platform/Terminal.h"

#include <unistd.h>

namespace Platform {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace Platform
