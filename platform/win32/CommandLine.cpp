// Windows command line: the wide command line, converted to UTF-8. The narrow
// argv holds the arguments in the ANSI code page, which loses every
// character it has no form for.
#include "platform/CommandLine.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/win32/WideText.h"

namespace Platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
    return arguments;
  }
  for (int i = 0; i < count; ++i) arguments.push_back(Win32::WideToUtf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace Platform
