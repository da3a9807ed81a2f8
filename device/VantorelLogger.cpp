#include "device/VantorelLogger.h"

#include <iostream>
#include <string>

namespace {

// The module's text is untrusted only in being possibly null; it is
// terminated by contract.
void WriteLine(const char* prefix, const char* text) {
  std::string line(prefix);
  if (text != nullptr) line += text;
  line += '\n';
  std::cout << line << std::flush;
}

}  // namespace

void VantorelLogger::Message(const char* text) { WriteLine("", text); }
void VantorelLogger::Error(const char* text) { WriteLine("Error: ", text); }
void VantorelLogger::Warning(const char* text) { WriteLine("Warning: ", text); }
