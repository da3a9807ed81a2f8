// Platform command line: the arguments a person typed, as UTF-8, for tools
// that take names and texts in any language.
//
// Threads: may be called from any thread.
#pragma once

#include <string>
#include <vector>

namespace Platform {

// The process's arguments, the program first, each as UTF-8.
// POSIX: `argv` unchanged (terminals pass UTF-8 bytes). Windows: the wide
// (UTF-16) command line, split as the C runtime splits it and converted, so
// that characters outside the ANSI code page survive; `argv` is used only
// when the wide command line cannot be read.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace Platform
