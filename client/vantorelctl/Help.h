// Help: the texts of vantorelctl's --help pages that CLI11 does not make:
// the global options (shown on every subcommand's page, since they may stand
// after the subcommand) and the exit codes, each page listing only the codes
// its subcommand can return.
//
// Threads: pure functions.
#pragma once

#include <initializer_list>
#include <string>

namespace vantorel::ctl {

struct ExitLine {
  int code;
  std::string meaning;
};

// The usual meanings of exit codes 0 to 3.
ExitLine ExitSuccess();
ExitLine ExitDriverCode(const std::string& more = "");
ExitLine ExitUsageError(const std::string& more = "");
ExitLine ExitUnreachable();
// Exit code 6: the lab's database.
ExitLine ExitStore();

// The footer of a subcommand's help: global options, then `codes`.
std::string SubcommandFooter(std::initializer_list<ExitLine> codes);

// The footer of the top-level help: environment and every exit code.
std::string MainFooter();

}  // namespace vantorel::ctl
