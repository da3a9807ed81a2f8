// Ctl: the command line of vantorelctl, separate from main() so that tests
// can run it in-process with their own streams and environment.
//
// Threads: one run per thread; CLI parsing keeps no global state.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace vantorel::ctl {

struct CtlIo {
  std::ostream& out;
  std::ostream& err;
  bool terminal = false;  // standard error is a terminal: progress lines allowed
  // Environment lookup (VANTOREL_HOST, VANTOREL_PORT); nothing when unset.
  std::function<std::optional<std::string>(const std::string&)> environment;
  // Replaces the check for Ctrl-C while a command waits (tests); empty: the
  // user's interrupt (platform/Interrupt.h).
  std::function<bool()> interrupted = {};
};

// Parses argv (argv[0] is the program name), runs the subcommand and returns
// the exit code (kExit* in Report.h). Usage errors print the reason and a
// hint to standard error and return kExitUsage (an unknown subcommand is
// named as such, with the list of subcommands); --help, `help [SUBCOMMAND]`
// and --version print to standard output and return kExitOk.
int RunVantorelctl(int argc, const char* const* argv, CtlIo& io);

}  // namespace vantorel::ctl
