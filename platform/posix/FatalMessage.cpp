// POSIX fatal messages: one line on standard error.
#include "platform/FatalMessage.h"

#include <cstdio>
#include <string>

namespace Platform {

void ShowFatalMessage(std::string_view utf8Text) {
  // One write call, so that the line is not split by output of other threads.
  std::string line = "Error: ";
  line.append(utf8Text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void ShowFatalMessageAnsi(const char* text) {
  ShowFatalMessage(text != nullptr ? std::string_view(text) : std::string_view());
}

}  // namespace Platform
