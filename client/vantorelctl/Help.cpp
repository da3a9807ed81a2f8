#include "client/vantorelctl/Help.h"

#include <algorithm>

namespace vantorel::ctl {
namespace {

#ifdef _WIN32
#define POSTGRES_NOTE "; PostgreSQL only in the Linux build"
#define DEFAULT_DB_FOLDER "%LOCALAPPDATA%\\Vantorel"
#else
#define POSTGRES_NOTE ""
#define DEFAULT_DB_FOLDER "$XDG_DATA_HOME/vantorel or ~/.local/share/vantorel"
#endif

constexpr const char* kGlobalOptions =
    "Global options (before or after the subcommand):\n"
    "  --host H                driver host name or address (default 127.0.0.1, or VANTOREL_HOST)\n"
    "  --port P                driver TCP port, 1 to 65535 (default 8889, or VANTOREL_PORT)\n"
    "  --json                  print one JSON object on standard output\n"
    "  --connect-timeout-ms N  how long to keep trying to reach the driver, which refuses\n"
    "                          connections while it serves another client (default 5000)\n"
    "  --db URL                the lab's database: sqlite:PATH, a file PATH, or\n"
    "                          postgresql://USER@HOST:PORT/DBNAME (password from PGPASSWORD or\n"
    "                          ~/.pgpass" POSTGRES_NOTE
    "); default VANTOREL_DB, else lab.db in the\n"
    "                          user's data folder (" DEFAULT_DB_FOLDER ")\n";

// "  1  text", continuation lines indented under the text.
std::string Lines(std::initializer_list<ExitLine> codes) {
  std::string text = "Exit codes:\n";
  for (const ExitLine& line : codes) {
    std::string code = std::to_string(line.code);
    code.resize(std::max<std::size_t>(code.size(), 3), ' ');
    text += "  " + code + " ";
    for (const char c : line.meaning) {
      text += c;
      if (c == '\n') text += "      ";
    }
    text += '\n';
  }
  text.pop_back();
  return text;
}

}  // namespace

ExitLine ExitSuccess() { return {0, "success"}; }

ExitLine ExitDriverCode(const std::string& more) {
  return {1,
          "the driver answered a non-zero result code (\"error: <code>: <text>\" on\n"
          "standard error, then the next step)" +
              more};
}

ExitLine ExitUsageError(const std::string& more) { return {2, "usage error" + more}; }

ExitLine ExitStore() {
  return {6,
          "the lab's database could not be opened or written (what was fetched is\n"
          "still printed and written; --no-record skips the database)"};
}

ExitLine ExitUnreachable() {
  return {3,
          "the driver cannot be reached within --connect-timeout-ms (not running, or\n"
          "serving another client), or a transport or protocol failure"};
}

std::string SubcommandFooter(std::initializer_list<ExitLine> codes) {
  return std::string(kGlobalOptions) + "\n" + Lines(codes);
}

std::string MainFooter() {
  return "Environment: VANTOREL_HOST and VANTOREL_PORT set the defaults of --host and --port,\n"
         "VANTOREL_DB that of --db.\n"
         "vantorelctl SUBCOMMAND --help (or vantorelctl help SUBCOMMAND) describes each\n"
         "subcommand with the exit codes it returns.\n\n" +
         Lines(
             {ExitSuccess(),
              ExitDriverCode(", or a refusal that protects a stored job or\n"
                             "the driver (a name already stored, a job not stored or still\n"
                             "measuring); run --wait: the job stopped or was not measured in time"),
              ExitUsageError(" (unknown subcommand, missing argument, a value out of range),\n"
                             "or a compare side or tolerance file that cannot be used"),
              ExitUnreachable(),
              {4, "the result folder (or compare's QC folder) could not be written"},
              {5, "compare: a geometry of the batch is outside its tolerance"},
              ExitStore(),
              {130, "run --wait was interrupted (Ctrl-C); the job goes on measuring"}});
}

}  // namespace vantorel::ctl
