#include "client/vantorelctl/Ctl.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "CLI/CLI.hpp"
#include "Version.h"
#include "client/RequestChecks.h"
#include "client/quality/Tolerances.h"
#include "client/vantorelctl/Commands.h"
#include "client/vantorelctl/CompareCommand.h"
#include "client/vantorelctl/Help.h"
#include "client/vantorelctl/RecordCommands.h"
#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {
namespace {

// Options of the top-level command that take a value: skipped when looking
// for the subcommand's name.
constexpr std::array<std::string_view, 4> kValueOptions = {"--host", "--port",
                                                           "--connect-timeout-ms", "--db"};

// The first argument that is neither an option nor an option's value: the
// subcommand's name, or empty.
std::string SubcommandWord(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") return i + 1 < argc ? argv[i + 1] : "";
    if (std::find(kValueOptions.begin(), kValueOptions.end(), arg) != kValueOptions.end()) {
      ++i;
      continue;
    }
    if (arg.starts_with("-")) continue;
    return std::string(arg);
  }
  return "";
}

const CLI::App* FindSubcommand(const CLI::App& app, const std::string& name) {
  const auto found =
      app.get_subcommands([&](const CLI::App* command) { return command->get_name() == name; });
  return found.empty() ? nullptr : found.front();
}

// A check that a value is a whole number from `low` to `high`, saying so in
// words instead of CLI11's "Could not convert": "\"VALUE\" is not <what>".
CLI::Validator WholeNumber(std::int64_t low, std::int64_t high, const std::string& what) {
  return CLI::Validator(
      [=](std::string& value) -> std::string {
        std::size_t i = value.starts_with("-") ? 1 : 0;
        bool digits = i < value.size() && value.size() - i <= 18;
        for (std::size_t k = i; digits && k < value.size(); ++k) {
          digits = value[k] >= '0' && value[k] <= '9';
        }
        if (digits) {
          const std::int64_t number = std::stoll(value);
          if (number >= low && number <= high) return "";
        }
        return "\"" + value + "\" is not " + what;
      },
      "NUMBER", "whole number");
}

bool AsksForHelpOrVersion(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "--version") return true;
  }
  return false;
}

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
  app.footer(MainFooter());
  app.set_version_flag("--version", std::string("vantorelctl ") + VANTOREL_VERSION,
                       "print the version and exit");
  app.require_subcommand(1);
  // Global options may also follow the subcommand.
  app.fallthrough();

  Session session{io.out, io.err};
  session.terminal = io.terminal;
  session.interrupted = io.interrupted;
  std::string host;
  int port = 0;
  app.add_option("--host", host, "driver host name or address (default 127.0.0.1)");
  CLI::Option* portOption =
      app.add_option("--port", port, "driver TCP port (default 8889)")->check(CLI::Range(1, 65535));
  app.add_flag("--json", session.json, "print one JSON object on standard output");
  const CLI::Validator milliseconds =
      WholeNumber(0, 4294967295, "a number of milliseconds from 0 to 4294967295");
  app.add_option("--connect-timeout-ms", session.connectTimeoutMs,
                 "how long to keep trying to reach the driver (default 5000)")
      ->check(milliseconds);
  std::string db;
  CLI::Option* dbOption = app.add_option("--db", db, "the lab's database (see --help)");

  std::uint32_t timeoutMs = 10000;
  std::string address, name, make, outDir, text;
  std::int64_t samples = 0, index = 0;
  std::uint32_t waitTimeoutMs = 0;
  bool wait = false, force = false, replace = false;
  const auto footer = [](CLI::App* command, std::initializer_list<ExitLine> codes) {
    command->footer(SubcommandFooter(codes));
    return command;
  };
  const ExitLine usage = ExitUsageError();

  CLI::App* connect = app.add_subcommand("connect", "open the instrument session (usb or net)");
  connect->require_subcommand(1);
  const ExitLine connectCode =
      ExitDriverCode(";\n99999: the instrument did not answer within --timeout-ms");
  footer(connect, {ExitSuccess(), connectCode, usage, ExitUnreachable()});
  CLI::App* usb = connect->add_subcommand("usb", "connect the driver to the instrument over USB");
  usb->add_option("--timeout-ms", timeoutMs,
                  "how long the driver waits for the instrument (default 10000)")
      ->check(milliseconds);
  footer(usb, {ExitSuccess(), connectCode, usage, ExitUnreachable()});
  CLI::App* net = connect->add_subcommand("net", "connect to the instrument over the network");
  net->add_option("ADDRESS", address, "the instrument's IPv4 address, dotted")->required();
  net->add_option("--timeout-ms", timeoutMs,
                  "how long the driver waits for the instrument (default 10000)")
      ->check(milliseconds);
  footer(net, {ExitSuccess(), connectCode, ExitUsageError(", or ADDRESS is not dotted IPv4"),
               ExitUnreachable()});

  CLI::App* jobs = footer(app.add_subcommand("jobs", "list the jobs stored on the instrument"),
                          {ExitSuccess(), ExitDriverCode(), usage, ExitUnreachable()});

  CLI::App* addJob = footer(
      app.add_subcommand("add-job", "store a job (a name already stored only with --replace)"),
      {ExitSuccess(), ExitDriverCode(",\nor NAME is already stored (--replace replaces it)"),
       ExitUsageError(", or a job the instrument does not store:\n" + JobLimitsText()),
       ExitUnreachable()});
  addJob->add_option("NAME", name, "job name (UTF-8, 1 to 4096 bytes)")->required();
  addJob->add_option("--make", make, "make of the job (UTF-8); chooses the virtual paint");
  addJob->add_option("--samples", samples, "number of samples, 1 to 1000")
      ->required()
      ->check(WholeNumber(-999999999, 999999999, "a whole number: give 1 to 1000 samples"));
  addJob->add_flag("--replace", replace,
                   "replace a stored job of the same name, discarding its readings");

  CLI::App* deleteJob =
      footer(app.add_subcommand("delete-job", "delete a stored job"),
             {ExitSuccess(), ExitDriverCode(", or NAME is not stored"), usage, ExitUnreachable()});
  deleteJob->add_option("NAME", name, "job name")->required();

  CLI::App* run =
      footer(app.add_subcommand("run", "start measuring a job"),
             {ExitSuccess(),
              ExitDriverCode(
                  ", NAME is not stored or has no\nsamples, or with --wait: the job stopped "
                  "before it was measured, or\n--wait-timeout-ms passed (it goes on measuring)"),
              usage,
              ExitUnreachable(),
              {kExitInterrupted, "Ctrl-C while waiting; the job goes on measuring"}});
  run->add_option("NAME", name, "job name")->required();
  run->add_flag("--wait", wait,
                "follow the job until it is measured (a job measuring already is waited for)");
  run->add_option("--wait-timeout-ms", waitTimeoutMs,
                  "with --wait: give up after this long (default 0: no limit)")
      ->check(milliseconds);

  CLI::App* cancel = footer(app.add_subcommand("cancel", "cancel the job that is measuring"),
                            {ExitSuccess(), ExitDriverCode(), usage, ExitUnreachable()});

  const ExitLine fetchCode =
      ExitDriverCode(", or NAME is not stored, has\nno samples or is still measuring");
  const ExitLine writeCode = {kExitWrite, "the result folder could not be written"};
  CLI::App* measure =
      footer(app.add_subcommand("measure",
                                "fetch the combined measurement of a measured job and record it"),
             {ExitSuccess(), fetchCode, usage, ExitUnreachable(), writeCode, ExitStore()});
  measure->add_option("NAME", name, "job name")->required();
  measure->add_option("--out", outDir, "write the result folder here (else print a summary)");
  measure->add_flag("--force", force, "replace an existing result folder");
  RecordOptions recordOptions;
  bool noRecord = false;
  const auto recordFlags = [&](CLI::App* command, bool withMake) {
    command->add_flag("--no-record", noRecord, "do not record it in the lab's database");
    command->add_option("--operator", recordOptions.operatorName,
                        "who measured, for the record (default: the logged-in user)");
    command->add_option("--instrument", recordOptions.instrument,
                        "a label of the instrument, for the record");
    command->add_flag("--record-images", recordOptions.images,
                      "keep the EXR images in the record too (large)");
    if (withMake) {
      command->add_option("--make", recordOptions.make,
                          "the job's make, for the record (default: the one add-job gave)");
    }
  };
  recordFlags(measure, true);

  CLI::App* sample = footer(
      app.add_subcommand("sample", "fetch one sample of a job and record it"),
      {ExitSuccess(), fetchCode, ExitUsageError(", or INDEX is not one of the job's samples"),
       ExitUnreachable(), writeCode, ExitStore()});
  sample->add_option("NAME", name, "job name")->required();
  sample->add_option("INDEX", index, "sample index, from 0")
      ->required()
      ->check(WholeNumber(-999999999, 999999999, "a whole number: samples are numbered from 0"));
  sample->add_option("--out", outDir, "write the result folder here (else print a summary)");
  sample->add_flag("--force", force, "replace an existing result folder");
  recordFlags(sample, true);

  CLI::App* log = footer(app.add_subcommand("log", "print the instrument's log"),
                         {ExitSuccess(), ExitDriverCode(), usage, ExitUnreachable()});

  CLI::App* message = footer(app.add_subcommand("message", "pass a text to the instrument"),
                             {ExitSuccess(), ExitDriverCode(),
                              ExitUsageError(", or TEXT is not valid UTF-8"), ExitUnreachable()});
  message->add_option("TEXT", text, "the text (UTF-8)")->required();

  CLI::App* terminate =
      footer(app.add_subcommand("terminate", "end the driver process"),
             {{0, "the driver closed the connection: it ends"}, usage, ExitUnreachable()});

  CompareOptions compareOptions;
  CLI::App* compare =
      footer(app.add_subcommand(
                 "compare",
                 "compare a batch with its standard per geometry: colour differences, flop index, "
                 "pass/fail (exit 5 when a geometry fails)"),
             {{0, "every compared geometry passes"},
              {1,
               "a job: side cannot be fetched (a result code, a job not stored,\nwithout samples "
               "or still measuring)"},
              ExitUsageError(": a side that is not a result folder or CxF3 file, no L*a*b*\nper "
                             "geometry, a malformed file or tolerance file, no geometry in common"),
              ExitUnreachable(),
              {kExitWrite, "the QC folder could not be written"},
              {kExitQcFail, "a geometry of the batch is outside its tolerance"},
              {kExitStore,
               "the lab's database could not be read or written (wins over 5:\nthe "
               "verdict is printed but not kept)"}});
  compare
      ->add_option("STANDARD", compareOptions.standard,
                   "std:NAME (the library's standard), result folder (measure --out), CxF3 file, "
                   "job:NAME measured now, or #ID (a recorded measurement)")
      ->required();
  compare->add_option("BATCH", compareOptions.batch, "the same kinds as STANDARD but std:")
      ->required();
  compare
      ->add_option("--formula", compareOptions.formula,
                   "de2000, de94, cmc (2:1) or de76 (default: the standard's, else de2000)")
      ->check(CLI::IsMember({"de2000", "de94", "cmc", "de76"}));
  const CLI::Validator toleranceCheck(
      [](std::string& value) -> std::string {
        double parsed = 0.0;
        if (quality::ParseTolerance(value, parsed)) return "";
        return "\"" + value + "\" is not a tolerance: give a number of 0 or more, such as 1.0";
      },
      "TOLERANCE", "tolerance");
  CLI::Option* toleranceOption =
      compare
          ->add_option("--tolerance", compareOptions.tolerance,
                       "largest colour difference that passes, every geometry (default: the "
                       "standard's, else 1.0)")
          ->check(toleranceCheck);
  compare
      ->add_option("--tolerance-file", compareOptions.toleranceFile,
                   "one tolerance per geometry: lines \"GEOMETRY TOLERANCE\", \"* T\" for the rest")
      ->excludes(toleranceOption);
  compare->add_option("--out", compareOptions.outDir, "write qc.json, qc.csv and qc.svg here");
  compare->add_flag("--force", compareOptions.force, "replace an earlier QC folder");
  recordFlags(compare, false);

  const ExitLine storeCode = ExitStore();
  HistoryOptions historyOptions;
  CLI::App* history =
      footer(app.add_subcommand("history", "list the recorded measurements, newest first"),
             {ExitSuccess(), ExitUsageError(", or a --since that is not a date"), storeCode});
  history->add_option("--job", historyOptions.job, "only this job's records");
  history->add_option("--standard", historyOptions.standard,
                      "only records compared with this standard (NAME or std:NAME)");
  history->add_option("--since", historyOptions.since,
                      "only records from then on: YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)");
  history->add_option("--limit", historyOptions.limit, "at most this many (default 50)")
      ->check(CLI::Range(1, 1000000));

  std::string recordId;
  CLI::App* show =
      footer(app.add_subcommand("show", "show one record (#ID): a measurement or a comparison"),
             {ExitSuccess(),
              ExitUsageError(", or no record has that id"),
              {kExitWrite, "the result folder could not be written"},
              storeCode});
  show->add_option("ID", recordId, "the record's id, as in '#12'")->required();
  show->add_option("--out", outDir, "write the measurement's result folder here again");
  show->add_flag("--force", force, "replace an existing result folder");

  CLI::App* standard =
      app.add_subcommand("standard", "the library of named standards: add, list, show, remove");
  standard->require_subcommand(1);
  footer(standard, {ExitSuccess(), usage, storeCode});
  StandardAddOptions standardOptions;
  CLI::App* standardAdd =
      footer(standard->add_subcommand("add", "store a standard (a new version with --replace)"),
             {ExitSuccess(), ExitDriverCode(" (a job: source)"),
              ExitUsageError(": a name already in the library without --replace, a\nsource that "
                             "cannot be used, a malformed tolerance file"),
              ExitUnreachable(), storeCode});
  standardAdd->add_option("NAME", standardOptions.name, "the standard's name (Unicode, exact)")
      ->required();
  standardAdd
      ->add_option("SOURCE", standardOptions.source,
                   "a result folder, a CxF3 file, job:NAME (measured now) or #ID (a record)")
      ->required();
  CLI::Option* standardTolerance =
      standardAdd
          ->add_option("--tolerance", standardOptions.tolerance,
                       "largest colour difference that passes, every geometry (default 1.0)")
          ->check(toleranceCheck);
  standardAdd
      ->add_option("--tolerance-file", standardOptions.toleranceFile,
                   "one tolerance per geometry: lines \"GEOMETRY TOLERANCE\", \"* T\" for the rest")
      ->excludes(standardTolerance);
  standardAdd
      ->add_option("--formula", standardOptions.formula, "de2000 (default), de94, cmc or de76")
      ->check(CLI::IsMember({"de2000", "de94", "cmc", "de76"}));
  standardAdd->add_option("--note", standardOptions.note, "a note kept with this version");
  standardAdd->add_flag("--replace", standardOptions.replace,
                        "store a new version of a name in the library (the old one is kept)");
  std::string standardName;
  CLI::App* standardList =
      footer(standard->add_subcommand("list", "list the standards of the library"),
             {ExitSuccess(), usage, storeCode});
  CLI::App* standardShow =
      footer(standard->add_subcommand("show", "show a standard: values, tolerances, versions"),
             {ExitSuccess(), ExitUsageError(", or no standard of that name"), storeCode});
  standardShow->add_option("NAME", standardName, "the standard's name")->required();
  CLI::App* standardRemove =
      footer(standard->add_subcommand("remove",
                                      "hide a standard from the list and from new comparisons (its "
                                      "versions stay for the records)"),
             {ExitSuccess(), ExitUsageError(", or no standard of that name"), storeCode});
  standardRemove->add_option("NAME", standardName, "the standard's name")->required();

  std::string since;
  CLI::App* trend =
      footer(app.add_subcommand("trend",
                                "every batch compared with a standard: its colour difference "
                                "per geometry over time"),
             {ExitSuccess(),
              ExitUsageError(", or no standard of that name"),
              {kExitWrite, "the trend folder could not be written"},
              storeCode});
  trend->add_option("STANDARD", standardName, "std:NAME or NAME")->required();
  trend->add_option("--since", since, "from then on: YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)");
  trend->add_option("--out", outDir, "write trend.csv and trend.svg here");
  trend->add_flag("--force", force, "replace an earlier trend folder");

  CLI::App* report =
      footer(app.add_subcommand("report",
                                "the customer's report of a recorded comparison (#ID): one "
                                "self-contained HTML page"),
             {ExitSuccess(),
              ExitUsageError(", or no comparison has that id"),
              {kExitWrite, "the file could not be written"},
              storeCode});
  report->add_option("ID", recordId, "the comparison's id, as in '#14'")->required();
  report->add_option("--out", outDir, "write the page to this file (FILE.html); else print it");
  report->add_flag("--force", force, "replace an existing file");

  CLI::App* selftest = footer(
      app.add_subcommand(
          "selftest",
          "end-to-end health check: connect usb, add a 1-sample job, run it, read its sample, "
          "delete it; PASS/FAIL per step"),
      {{0, "every step passed"},
       ExitDriverCode(", or a step found something wrong"),
       usage,
       ExitUnreachable()});

  CLI::App* help = app.add_subcommand("help", "describe vantorelctl, or one subcommand");
  std::string helpTopic;
  help->add_option("SUBCOMMAND", helpTopic, "the subcommand to describe");

  // Name what is wrong with the subcommand word before CLI11 lumps every
  // case into "a subcommand is required".
  std::string names;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    names += (names.empty() ? "" : ", ") + command->get_name();
  }
  const std::string listHint =
      "the subcommands are: " + names + "; vantorelctl help describes them";
  const std::string word = SubcommandWord(argc, argv);
  if (word.empty() && !AsksForHelpOrVersion(argc, argv)) {
    return FailWith(session, kExitUsage, "a subcommand is required", listHint);
  }
  if (!word.empty() && FindSubcommand(app, word) == nullptr) {
    return FailWith(session, kExitUsage, "unknown subcommand '" + word + "'", listHint);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, io.out, io.err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, io.out, io.err);
  } catch (const CLI::CallForVersion& e) {
    io.out << e.what() << '\n';
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    io.err << "error: " << e.what() << "\nvantorelctl " << word << (word.empty() ? "" : " ")
           << "--help describes the options\n";
    return kExitUsage;
  }

  if (*help) {
    if (helpTopic.empty()) {
      // app.help() would describe the selected subcommand, `help` itself.
      io.out << app.get_formatter()->make_help(&app, "vantorelctl", CLI::AppFormatMode::Normal);
      return kExitOk;
    }
    const CLI::App* topic = FindSubcommand(app, helpTopic);
    if (topic == nullptr) {
      return FailWith(session, kExitUsage, "unknown subcommand '" + helpTopic + "'", listHint);
    }
    io.out << topic->help("vantorelctl");
    return kExitOk;
  }

  auto env = [&](const char* key) -> std::optional<std::string> {
    if (!io.environment) return std::nullopt;
    return io.environment(key);
  };
  session.environment = io.environment;
  if (dbOption->count() != 0) {
    session.db = db;
  } else if (auto value = env("VANTOREL_DB"); value && !value->empty()) {
    session.db = *value;
  }
  recordOptions.record = !noRecord;
  compareOptions.record = recordOptions;
  standardOptions.record = recordOptions;
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
  if (*sample) {
    if (const auto problem = SampleIndexProblem(index)) {
      session.command = "sample";
      return FailWith(session, kExitUsage, *problem);
    }
  }
  struct Entry {
    CLI::App* command;
    std::function<int()> run;
  };
  const std::vector<Entry> entries = {
      {jobs, [&] { return JobsCommand(session); }},
      {addJob, [&] { return AddJobCommand(session, name, make, samples, replace); }},
      {deleteJob, [&] { return DeleteJobCommand(session, name); }},
      {run, [&] { return RunCommand(session, name, wait, waitTimeoutMs); }},
      {cancel, [&] { return CancelCommand(session); }},
      {measure,
       [&] { return MeasureCommand(session, name, std::nullopt, outDir, force, recordOptions); }},
      {sample,
       [&] {
         return MeasureCommand(session, name, static_cast<std::int32_t>(index), outDir, force,
                               recordOptions);
       }},
      {history, [&] { return HistoryCommand(session, historyOptions); }},
      {show, [&] { return ShowCommand(session, recordId, outDir, force); }},
      {standardAdd, [&] { return StandardAddCommand(session, standardOptions); }},
      {standardList, [&] { return StandardListCommand(session); }},
      {standardShow, [&] { return StandardShowCommand(session, standardName); }},
      {standardRemove, [&] { return StandardRemoveCommand(session, standardName); }},
      {trend, [&] { return TrendCommand(session, standardName, since, outDir, force); }},
      {report, [&] { return ReportCommand(session, recordId, outDir, force); }},
      {log, [&] { return LogCommand(session); }},
      {message, [&] { return MessageCommand(session, text); }},
      {terminate, [&] { return TerminateCommand(session); }},
      {selftest, [&] { return SelfTestCommand(session); }},
      {compare, [&] { return CompareCommand(session, compareOptions); }},
  };
  for (const Entry& entry : entries) {
    if (*entry.command) {
      session.command = entry.command->get_name();
      if (entry.command->get_parent() == standard) session.command = "standard " + session.command;
      return entry.run();
    }
  }
  return FailWith(session, kExitUsage, "a subcommand is required", listHint);
}

}  // namespace vantorel::ctl
