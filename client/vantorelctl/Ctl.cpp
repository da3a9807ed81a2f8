#include "client/vantorelctl/Ctl.h"

#include <cstdint>
#include <vector>

#include "CLI/CLI.hpp"
#include "client/vantorelctl/Commands.h"
#include "client/vantorelctl/CompareCommand.h"
#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {
namespace {

constexpr const char* kFooter =
    "Environment: VANTOREL_HOST and VANTOREL_PORT set the defaults of --host and --port.\n"
    "\n"
    "Exit codes:\n"
    "  0  success: the driver answered result code 0\n"
    "  1  the driver answered a non-zero result code (\"error: <code>: <text>\" on stderr),\n"
    "     or run --wait saw the job stop before it was measured\n"
    "  2  usage error, or a compare side that cannot be used (not a result folder,\n"
    "     no L*a*b* per geometry, malformed file, no geometry in common)\n"
    "  3  cannot connect to the driver, or a transport or protocol failure\n"
    "  4  the result folder (or compare's QC folder) could not be written\n"
    "  5  compare: a geometry of the batch is outside its tolerance";

// Port text from the environment: a decimal number 1..65535.
std::optional<std::uint16_t> ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

int RunVantorelctl(int argc, const char* const* argv, CtlIo& io) {
  CLI::App app{"vantorelctl: command-line client of the Vantorel driver (TCP, default port 8889)",
               "vantorelctl"};
  app.footer(kFooter);
  app.require_subcommand(1);
  // Global options may also follow the subcommand.
  app.fallthrough();

  Session session{io.out, io.err};
  session.terminal = io.terminal;
  std::string host;
  int port = 0;
  app.add_option("--host", host, "driver host name or address (default 127.0.0.1)");
  CLI::Option* portOption =
      app.add_option("--port", port, "driver TCP port (default 8889)")->check(CLI::Range(1, 65535));
  app.add_flag("--json", session.json, "print one JSON object on standard output");
  app.add_option("--connect-timeout-ms", session.connectTimeoutMs,
                 "time allowed for the TCP connection to the driver (default 5000)");

  std::uint32_t timeoutMs = 10000;
  std::string address, name, make, outDir, text;
  std::uint32_t samples = 0, waitTimeoutMs = 0;
  std::int32_t index = 0;
  bool wait = false, force = false;

  CLI::App* connect = app.add_subcommand("connect", "open the instrument session (usb or net)");
  connect->require_subcommand(1);
  CLI::App* usb = connect->add_subcommand("usb", "connect the driver to the instrument over USB");
  usb->add_option("--timeout-ms", timeoutMs,
                  "how long the driver waits for the instrument (default 10000)");
  CLI::App* net = connect->add_subcommand("net", "connect to the instrument over the network");
  net->add_option("ADDRESS", address, "the instrument's IPv4 address, dotted")->required();
  net->add_option("--timeout-ms", timeoutMs,
                  "how long the driver waits for the instrument (default 10000)");

  CLI::App* jobs = app.add_subcommand("jobs", "list the jobs stored on the instrument");

  CLI::App* addJob = app.add_subcommand("add-job", "store a job (replaces one of the same name)");
  addJob->add_option("NAME", name, "job name (UTF-8)")->required();
  addJob->add_option("--make", make, "make of the job (UTF-8)");
  addJob->add_option("--samples", samples, "number of samples")->required();

  CLI::App* deleteJob = app.add_subcommand("delete-job", "delete a stored job");
  deleteJob->add_option("NAME", name, "job name")->required();

  CLI::App* run = app.add_subcommand("run", "start measuring a job");
  run->add_option("NAME", name, "job name")->required();
  run->add_flag("--wait", wait, "follow the job until it is measured");
  run->add_option("--wait-timeout-ms", waitTimeoutMs,
                  "with --wait: give up after this long (default 0: no limit)");

  CLI::App* cancel = app.add_subcommand("cancel", "cancel the job that is measuring");

  CLI::App* measure = app.add_subcommand(
      "measure", "fetch the combined measurement of a job (waits for the instrument)");
  measure->add_option("NAME", name, "job name")->required();
  measure->add_option("--out", outDir, "write the result folder here (else print a summary)");
  measure->add_flag("--force", force, "replace an existing result folder");

  CLI::App* sample = app.add_subcommand("sample", "fetch one sample of a job");
  sample->add_option("NAME", name, "job name")->required();
  sample->add_option("INDEX", index, "sample index, from 0")->required();
  sample->add_option("--out", outDir, "write the result folder here (else print a summary)");
  sample->add_flag("--force", force, "replace an existing result folder");

  CLI::App* log = app.add_subcommand("log", "print the instrument's log");

  CLI::App* message = app.add_subcommand("message", "pass a text to the instrument");
  message->add_option("TEXT", text, "the text (UTF-8)")->required();

  CLI::App* terminate = app.add_subcommand("terminate", "end the driver process");

  CompareOptions compareOptions;
  CLI::App* compare = app.add_subcommand(
      "compare",
      "compare a batch with its standard per geometry: colour differences, flop index, "
      "pass/fail (exit 5 when a geometry fails)");
  compare
      ->add_option("STANDARD", compareOptions.standard,
                   "result folder (measure --out), CxF3 file, or job:NAME measured now")
      ->required();
  compare->add_option("BATCH", compareOptions.batch, "the same kinds as STANDARD")->required();
  compare
      ->add_option("--formula", compareOptions.formula, "de2000 (default), de94, cmc (2:1) or de76")
      ->check(CLI::IsMember({"de2000", "de94", "cmc", "de76"}));
  CLI::Option* toleranceOption =
      compare
          ->add_option("--tolerance", compareOptions.tolerance,
                       "largest colour difference that passes, every geometry (default 1.0)")
          ->check(CLI::NonNegativeNumber);
  compare
      ->add_option("--tolerance-file", compareOptions.toleranceFile,
                   "one tolerance per geometry: lines \"GEOMETRY TOLERANCE\", \"* T\" for the rest")
      ->excludes(toleranceOption);
  compare->add_option("--out", compareOptions.outDir, "write qc.json, qc.csv and qc.svg here");
  compare->add_flag("--force", compareOptions.force, "replace an earlier QC folder");

  CLI::App* selftest = app.add_subcommand(
      "selftest",
      "end-to-end health check: connect usb, add a 1-sample job, run it, read its sample, "
      "delete it; PASS/FAIL per step");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, io.out, io.err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, io.out, io.err);
  } catch (const CLI::ParseError& e) {
    io.err << "error: " << e.what() << "\nRun with --help for more information.\n";
    return kExitUsage;
  }

  auto env = [&](const char* key) -> std::optional<std::string> {
    if (!io.environment) return std::nullopt;
    return io.environment(key);
  };
  if (!host.empty()) {
    session.host = host;
  } else if (auto value = env("VANTOREL_HOST"); value && !value->empty()) {
    session.host = *value;
  }
  if (portOption->count() != 0) {
    session.port = static_cast<std::uint16_t>(port);
  } else if (auto value = env("VANTOREL_PORT"); value && !value->empty()) {
    const auto parsed = ParsePort(*value);
    if (!parsed) {
      io.err << "error: VANTOREL_PORT is not a port number (1-65535): " << *value << '\n';
      return kExitUsage;
    }
    session.port = *parsed;
  }

  if (*connect) {
    session.command = *usb ? "connect usb" : "connect net";
    if (*usb) return ConnectUsbCommand(session, timeoutMs);
    return ConnectNetCommand(session, address, timeoutMs);
  }
  struct Entry {
    CLI::App* command;
    std::function<int()> run;
  };
  const std::vector<Entry> entries = {
      {jobs, [&] { return JobsCommand(session); }},
      {addJob, [&] { return AddJobCommand(session, name, make, samples); }},
      {deleteJob, [&] { return DeleteJobCommand(session, name); }},
      {run, [&] { return RunCommand(session, name, wait, waitTimeoutMs); }},
      {cancel, [&] { return CancelCommand(session); }},
      {measure, [&] { return MeasureCommand(session, name, std::nullopt, outDir, force); }},
      {sample, [&] { return MeasureCommand(session, name, index, outDir, force); }},
      {log, [&] { return LogCommand(session); }},
      {message, [&] { return MessageCommand(session, text); }},
      {terminate, [&] { return TerminateCommand(session); }},
      {selftest, [&] { return SelfTestCommand(session); }},
      {compare, [&] { return CompareCommand(session, compareOptions); }},
  };
  for (const Entry& entry : entries) {
    if (*entry.command) {
      session.command = entry.command->get_name();
      return entry.run();
    }
  }
  io.err << "error: no subcommand\nRun with --help for more information.\n";
  return kExitUsage;
}

}  // namespace vantorel::ctl
