// Windows terminal detection.
#include "platform/Terminal.h"

#include <io.h>

#include <cstdio>

namespace Platform {

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace Platform
