// vantorelctl: command-line client of the driver. See the README, "Client library and vantorelctl".
//
// Everything inside the tool is UTF-8: the arguments are taken in Unicode
// and converted before anything parses them, and text for a console is
// shown through the platform's Unicode output. Pipes and files get the UTF-8
// bytes.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "client/vantorelctl/Ctl.h"
#include "platform/CommandLine.h"
#include "platform/Terminal.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = Platform::Utf8Arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  pointers.push_back(nullptr);

  const std::unique_ptr<std::streambuf> consoleOut =
      Platform::OpenConsoleText(Platform::StandardStream::kOutput);
  const std::unique_ptr<std::streambuf> consoleErr =
      Platform::OpenConsoleText(Platform::StandardStream::kError);
  std::ostream out(consoleOut ? consoleOut.get() : std::cout.rdbuf());
  std::ostream err(consoleErr ? consoleErr.get() : std::cerr.rdbuf());
  // As std::cerr: unbuffered, and standard output is flushed first, so that
  // the two keep their order when they share a console or a file.
  err.setf(std::ios::unitbuf);
  err.tie(&out);

  vantorel::ctl::CtlIo io{out, err, Platform::StandardErrorIsTerminal(),
                          [](const std::string& name) -> std::optional<std::string> {
                            const char* value = std::getenv(name.c_str());
                            if (value == nullptr) return std::nullopt;
                            return std::string(value);
                          }};
  const int code =
      vantorel::ctl::RunVantorelctl(static_cast<int>(arguments.size()), pointers.data(), io);
  out.flush();
  err.flush();
  return code;
}
