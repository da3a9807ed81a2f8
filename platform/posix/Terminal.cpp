// POSIX terminal handling.
#include "platform/Terminal.h"

#include <unistd.h>

namespace Platform {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::unique_ptr<std::streambuf> OpenConsoleText(StandardStream) { return nullptr; }

}  // namespace Platform
