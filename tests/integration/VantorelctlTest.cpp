// vantorelctl against the real driver and virtual instrument: every
// subcommand a lab user runs, with its exit code, its output and, for
// measure/sample, the result folder it writes; and the Windows vantorelctl.exe
// under Wine with names in other languages.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "integration/TestSupport.h"

namespace integration {
namespace {

struct CtlRun {
  int exitCode = -1;
  std::string out;  // standard output and standard error together
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs `program` (a shell command prefix, already quoted) with `args`.
CtlRun RunOnce(const std::string& program, const std::vector<std::string>& args) {
  std::string command = program;
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " 2>&1";
  CtlRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> chunk{};
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    run.out.append(chunk.data(), got);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Runs vantorelctl (`program`: this build's by default); a try that found the
// driver between two clients (exit 3: refused, or reset while waiting in the
// listening queue) is repeated.
CtlRun Ctl(const std::vector<std::string>& args,
           const std::string& program = Quote(VANTOREL_CTL_PATH)) {
  CtlRun run;
  for (int attempt = 0; attempt < 50; ++attempt) {
    run = RunOnce(program, args);
    if (run.exitCode != 3) return run;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return run;
}

// The Windows vantorelctl.exe named by VANTOREL_CTL_WINE, started in `dir`
// by the Wine loader (VANTOREL_WINE_LOADER, default wine). Wine builds the
// wide command line from the Linux arguments in the Unix locale: UTF-8.
std::string WineCtl(const std::string& dir) {
  return "cd " + Quote(dir) +
         " && LC_ALL=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " +
         Quote(EnvOr("VANTOREL_WINE_LOADER", "wine")) + " " + Quote(EnvOr("VANTOREL_CTL_WINE", ""));
}

// Why the Windows vantorelctl cannot run here, or empty when it can.
std::string WineCtlUnavailable() {
  const std::string exe = EnvOr("VANTOREL_CTL_WINE", "");
  if (exe.empty()) return "VANTOREL_CTL_WINE names no vantorelctl.exe";
  if (!std::filesystem::exists(exe)) return exe + " has not been built";
  const CtlRun probe = RunOnce(WineCtl("/tmp"), {"--help"});
  if (probe.exitCode != 0 || probe.out.find("vantorelctl") == std::string::npos) {
    return "Wine cannot run " + exe + " here (exit " + std::to_string(probe.exitCode) +
           "): " + probe.out.substr(0, 300);
  }
  return "";
}

class Vantorelctl : public SharedDriver<Vantorelctl> {
 public:
  static Environment Env() { return FastInstrument(); }

 protected:
  void SetUp() override {
    SharedDriver<Vantorelctl>::SetUp();
    client.Close();  // the driver serves one client at a time: vantorelctl's turn
    // The records of each test go to a database of its own, never the user's.
    ::setenv("VANTOREL_DB", (std::filesystem::path(records_.Path()) / "lab.db").c_str(), 1);
  }
  TempFolder records_;
};

TEST_F(Vantorelctl, JobLifeCycleAndResultFolders) {
  namespace fs = std::filesystem;
  CtlRun run = Ctl({"connect", "usb", "--timeout-ms", "5000"});
  ASSERT_EQ(run.exitCode, 0) << run.out;

  run = Ctl({"add-job", "Azure pearl", "--make", "blue", "--samples", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  run = Ctl({"run", "Azure pearl", "--wait"});
  ASSERT_EQ(run.exitCode, 0) << run.out;

  run = Ctl({"jobs"});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("Azure pearl"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("measured"), std::string::npos) << run.out;

  run = Ctl({"--json", "jobs"});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("\"Azure pearl\""), std::string::npos) << run.out;

  TempFolder folder;
  const fs::path measured = fs::path(folder.Path()) / "azure";
  run = Ctl({"measure", "Azure pearl", "--out", measured.string()});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  for (const char* file : {"result.json", "spectra.csv", "lab.csv", "result.cxf", "spectra.svg",
                           "cgats/r45as110.ti3", "images/r15as45.exr", "images/r15as45.png"}) {
    EXPECT_TRUE(fs::exists(measured / file)) << file;
  }
  // An existing folder is refused without --force and replaced with it.
  EXPECT_EQ(Ctl({"measure", "Azure pearl", "--out", measured.string()}).exitCode, 4);
  EXPECT_EQ(Ctl({"measure", "Azure pearl", "--out", measured.string(), "--force"}).exitCode, 0);
  if (std::system("command -v xmllint >/dev/null 2>&1") == 0) {
    const std::string check = "xmllint --noout " + Quote((measured / "result.cxf").string());
    EXPECT_EQ(std::system(check.c_str()), 0);
  }

  const fs::path sampled = fs::path(folder.Path()) / "sample1";
  run = Ctl({"sample", "Azure pearl", "1", "--out", sampled.string()});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  std::ifstream json(sampled / "result.json");
  const std::string text((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("r45as110"), std::string::npos);

  // Checked against the job list before anything is sent.
  run = Ctl({"sample", "Azure pearl", "7", "--out", (fs::path(folder.Path()) / "x").string()});
  EXPECT_EQ(run.exitCode, 2) << run.out;
  EXPECT_NE(run.out.find("job Azure pearl has 2 samples, numbered 0 to 1"), std::string::npos)
      << run.out;
  run = Ctl({"measure", "no such job"});
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_NE(run.out.find("job 'no such job' is not stored"), std::string::npos) << run.out;

  EXPECT_EQ(Ctl({"cancel"}).exitCode, 0);
  EXPECT_EQ(Ctl({"delete-job", "Azure pearl"}).exitCode, 0);
  run = Ctl({"jobs"});
  EXPECT_EQ(run.out.find("Azure pearl"), std::string::npos) << run.out;
}

// The README's first session and its "Quality control" session, as written
// there: a blue pearl standard, a batch of the same make, compared.
TEST_F(Vantorelctl, ReadmeQualityControlSession) {
  namespace fs = std::filesystem;
  TempFolder folder;
  const std::string standard = (fs::path(folder.Path()) / "azure").string();
  const std::string qc = (fs::path(folder.Path()) / "azure-qc").string();
  const std::vector<std::vector<std::string>> session = {
      {"connect", "usb"},
      {"add-job", "Azure pearl", "--make", "blue pearl", "--samples", "3"},
      {"run", "Azure pearl", "--wait"},
      {"measure", "Azure pearl", "--out", standard},
      {"add-job", "Azure pearl, batch 2", "--make", "blue pearl", "--samples", "3"},
      {"run", "Azure pearl, batch 2", "--wait"},
  };
  for (const auto& args : session) ASSERT_EQ(Ctl(args).exitCode, 0) << args[0];

  CtlRun run = Ctl({"compare", standard, "job:Azure pearl, batch 2", "--out", qc});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("verdict   PASS: 11 of 11 geometries within tolerance"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("flop index 3."), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(fs::path(qc) / "qc.svg"));
  // The standard against itself read from its CxF file: no difference.
  run = Ctl({"compare", standard + "/result.cxf", standard, "--tolerance", "0.001"});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  // A tolerance no batch meets fails with exit 5.
  run = Ctl({"compare", standard, "job:Azure pearl, batch 2", "--tolerance", "0.01"});
  EXPECT_EQ(run.exitCode, 5) << run.out;
  EXPECT_EQ(Ctl({"delete-job", "Azure pearl, batch 2"}).exitCode, 0);
}

// The README's lab day: a named standard with its tolerance, two batches
// compared against it (each recorded), the history, the trend and the report
// of one comparison; the record ids are the ones the README shows.
TEST_F(Vantorelctl, ReadmeLabDayWithTheLibrary) {
  namespace fs = std::filesystem;
  TempFolder folder;
  const auto in = [&](const std::string& name) {
    return (fs::path(folder.Path()) / name).string();
  };
  const char* jobs[] = {"Azure pearl", "Azure pearl, batch 2", "Azure pearl, batch 3"};
  for (const char* job : jobs) Ctl({"delete-job", job});  // left by an earlier test, or not
  const std::vector<std::vector<std::string>> session = {
      {"connect", "usb"},
      {"add-job", "Azure pearl", "--make", "blue pearl", "--samples", "3"},
      {"run", "Azure pearl", "--wait"},
      {"measure", "Azure pearl", "--out", in("azure")},
      {"add-job", "Azure pearl, batch 2", "--make", "blue pearl", "--samples", "3"},
      {"run", "Azure pearl, batch 2", "--wait"},
      {"compare", in("azure"), "job:Azure pearl, batch 2", "--out", in("azure-qc")},
      {"standard", "add", "Azure pearl", in("azure"), "--tolerance", "1.0", "--note",
       "agreed with the customer"},
      {"add-job", "Azure pearl, batch 3", "--make", "blue pearl", "--samples", "3"},
      {"run", "Azure pearl, batch 3", "--wait"},
      {"compare", "std:Azure pearl", "job:Azure pearl, batch 2"},
      {"compare", "std:Azure pearl", "job:Azure pearl, batch 3"},
      {"history", "--standard", "Azure pearl"},
      {"trend", "Azure pearl", "--out", in("azure-trend")},
      {"report", "#5", "--out", in("batch2-report.html")},
  };
  std::vector<CtlRun> runs;
  for (const auto& args : session) {
    runs.push_back(Ctl(args));
    // Batch 3 of the virtual paint is off its standard, as the README shows.
    const int expected = runs.size() == 12 ? 5 : 0;
    ASSERT_EQ(runs.back().exitCode, expected) << args[0] << ": " << runs.back().out;
  }
  EXPECT_NE(runs[3].out.find("recorded as #1"), std::string::npos) << runs[3].out;
  EXPECT_NE(runs[10].out.find("comparison recorded as #5"), std::string::npos) << runs[10].out;
  EXPECT_NE(runs[11].out.find("comparison recorded as #7"), std::string::npos) << runs[11].out;
  const std::string& history = runs[12].out;
  EXPECT_NE(history.find("#6"), std::string::npos) << history;
  EXPECT_NE(history.find("#4"), std::string::npos) << history;
  EXPECT_EQ(history.find("#2 "), std::string::npos) << history;  // compared with a folder only
  EXPECT_TRUE(fs::exists(in("azure-trend") + "/trend.svg"));
  std::ifstream page(in("batch2-report.html"));
  const std::string html((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  EXPECT_NE(html.find("Azure pearl, batch 2"), std::string::npos);
  EXPECT_NE(html.find("agreed with the customer"), std::string::npos);

  // Several processes writing the database at once all succeed.
  const std::string ctl = Quote(VANTOREL_CTL_PATH);
  std::string parallel;
  for (int i = 0; i < 4; ++i) {
    parallel += ctl + " compare " + Quote(in("azure")) + " " + Quote(in("azure")) + " > " +
                Quote(in("parallel" + std::to_string(i))) + " 2>&1 & ";
  }
  ASSERT_EQ(RunOnce("sh -c " + Quote(parallel + "wait"), {}).exitCode, 0);
  std::set<std::string> ids;
  for (int i = 0; i < 4; ++i) {
    std::ifstream out(in("parallel" + std::to_string(i)));
    const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    const std::size_t at = text.find("comparison recorded as #");
    ASSERT_NE(at, std::string::npos) << text;
    ids.insert(text.substr(at, text.find('\n', at) - at));
  }
  EXPECT_EQ(ids.size(), 4u);
  for (const char* job : jobs) EXPECT_EQ(Ctl({"delete-job", job}).exitCode, 0);
}

TEST_F(Vantorelctl, MessagesLogSelftestAndNetworkConnect) {
  CtlRun run = Ctl({"message", "hello from vantorelctl"});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  run = Ctl({"log"});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("hello from vantorelctl"), std::string::npos) << run.out;

  run = Ctl({"selftest"});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("selftest passed"), std::string::npos) << run.out;

  run = Ctl({"connect", "net", "0.0.0.0", "--timeout-ms", "5000"});
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_NE(run.out.find("3003"), std::string::npos) << run.out;
  // The failed connect closed the session.
  run = Ctl({"jobs"});
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_NE(run.out.find("no device session"), std::string::npos) << run.out;
  EXPECT_EQ(Ctl({"connect", "net", "192.0.2.7"}).exitCode, 0);

  EXPECT_EQ(Ctl({"no-such-subcommand"}).exitCode, 2);
}

// A mistyped add-job or delete-job loses nothing: the measured job stays.
TEST_F(Vantorelctl, AddJobKeepsAStoredJobUnlessReplaced) {
  ASSERT_EQ(Ctl({"connect", "usb"}).exitCode, 0);
  ASSERT_EQ(Ctl({"add-job", "Std", "--make", "blue pearl", "--samples", "2"}).exitCode, 0);
  ASSERT_EQ(Ctl({"run", "Std", "--wait"}).exitCode, 0);
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string text;
  };
  const Case cases[] = {
      {{"add-job", "Std", "--samples", "1001"},
       2,
       "--samples 1001: the instrument measures 1 to 1000"},
      {{"add-job", "Std", "--samples", "1"},
       1,
       "job 'Std' is already stored (measured, 2 samples); --replace replaces it and discards its "
       "readings"},
      {{"delete-job", "No such job"}, 1, "job 'No such job' is not stored"},
      {{"sample", "Std", "1"}, 0, "GEOMETRY"},  // the readings are still there
      {{"add-job", "Std", "--samples", "1", "--replace"}, 0, "job Std stored (1 sample, replacing"},
      {{"measure", "Std"}, 1, "job Std has not been measured: vantorelctl run Std --wait"},
      {{"delete-job", "Std"}, 0, "job Std deleted"},
  };
  for (const Case& c : cases) {
    const CtlRun run = Ctl(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args[0] << ": " << run.out;
    EXPECT_NE(run.out.find(c.text), std::string::npos) << run.out;
  }
}

// While run --wait waits, the driver is free between its polls: cancel from a
// second terminal gets in at once (a connect time-out far below the job's
// duration), and the waiting command reports the stop.
TEST_F(Vantorelctl, SecondTerminalCancelsWhileRunWaits) {
  ASSERT_EQ(Ctl({"connect", "usb"}).exitCode, 0);
  ASSERT_EQ(Ctl({"add-job", "Long", "--make", "red", "--samples", "1000"}).exitCode, 0);
  CtlRun waited;
  std::thread first([&] { waited = RunOnce(Quote(VANTOREL_CTL_PATH), {"run", "Long", "--wait"}); });
  // The job measures for 10 s; wait until the first terminal has started it.
  const auto start = std::chrono::steady_clock::now();
  // (The table's columns widen with the longest stored name.)
  const auto measuring = [] {
    const std::string table = Ctl({"jobs"}).out;
    const std::size_t row = table.find("\nLong ");
    return row != std::string::npos &&
           table.compare(table.find_first_not_of(' ', row + 5), 9, "measuring") == 0;
  };
  while (!measuring() && ElapsedMs(start) < Scaled(5000)) {
  }
  const CtlRun cancel =
      RunOnce(Quote(VANTOREL_CTL_PATH), {"cancel", "--connect-timeout-ms", "1000"});
  first.join();
  EXPECT_EQ(cancel.exitCode, 0) << cancel.out;
  EXPECT_EQ(waited.exitCode, 1) << waited.out;
  EXPECT_NE(waited.out.find("job Long stopped before it was measured (stored)"), std::string::npos)
      << waited.out;
  EXPECT_LT(ElapsedMs(start), Scaled(8000)) << "the cancel did not end the measurement";

  EXPECT_EQ(Ctl({"delete-job", "Long"}).exitCode, 0);
}

TEST_F(Vantorelctl, TerminateEndsTheDriver) {
  const CtlRun run = Ctl({"terminate"});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  const std::optional<int> code = driver->WaitExit(Scaled(10000));
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0);
  // Start a fresh driver for whatever runs after this suite's tear-down.
  driver = std::make_unique<DriverProcess>();
  ASSERT_TRUE(driver->StartAndWait(Env()));
}

// What a person sees of a terminal's output `text`, for one line after
// another: control sequences dropped, a cursor move to the right (which a
// console may write instead of blanks) as that many blanks.
std::string Visible(const std::string& text) {
  std::string visible;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    if (text[i] != '\x1b') {
      visible += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '[') {  // CSI: parameters, final byte
      std::size_t count = 0;
      for (i += 2; i < text.size() && (text[i] < 0x40 || text[i] > 0x7e); ++i) {
        if (text[i] >= '0' && text[i] <= '9') count = count * 10 + (text[i] - '0');
      }
      if (i < text.size() && text[i] == 'C') visible.append(count == 0 ? 1 : count % 1000, ' ');
    } else if (i + 1 < text.size() && text[i + 1] == ']') {  // OSC: up to BEL
      for (i += 2; i < text.size() && text[i] != '\a'; ++i) {
      }
    } else {
      ++i;
    }
  }
  return visible;
}

// The Windows vantorelctl.exe takes names, makes, messages and folder names
// in any language and passes them on as UTF-8, and prints them as UTF-8.
class VantorelctlWine : public SharedDriver<VantorelctlWine> {
 public:
  static Environment Env() { return FastInstrument(); }

 protected:
  void SetUp() override {
    static const std::string unavailable = WineCtlUnavailable();
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    SharedDriver<VantorelctlWine>::SetUp();
    client.Close();  // vantorelctl's turn
  }
  // What the driver's job list and the instrument's log say, read by a client
  // of this process.
  std::vector<JobAdvancedInfo> Jobs() {
    EXPECT_TRUE(ConnectClient(client));
    const vantorel::JobsAnswer answer = client.GetJobs();
    EXPECT_TRUE(answer.status.Ok()) << answer.status.text;
    client.Close();
    return answer.jobs;
  }
  std::string Log() {
    EXPECT_TRUE(ConnectClient(client));
    const vantorel::LogAnswer answer = client.GetLog();
    client.Close();
    return answer.text;
  }
};

TEST_F(VantorelctlWine, UnicodeNamesFoldersAndMessagesArriveAsUtf8) {
  namespace fs = std::filesystem;
  const std::string name = "Größe ✓ 日本";
  const std::string make = "Weiß-Perl";
  TempFolder folder;
  const std::string ctl = WineCtl(folder.Path());

  CtlRun run = Ctl({"connect", "usb"}, ctl);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  run = Ctl({"add-job", name, "--make", make, "--samples", "2"}, ctl);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("job " + name + " stored"), std::string::npos) << run.out;
  const std::vector<JobAdvancedInfo> stored = Jobs();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].name, name);  // byte for byte
  EXPECT_NE(Log().find("job '" + name + "' stored (make '" + make + "'"), std::string::npos);

  run = Ctl({"jobs"}, ctl);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find(name + "  stored"), std::string::npos) << run.out;
  // On a console (Wine's, which hands it to a terminal as UTF-8).
  if (std::system("command -v script >/dev/null 2>&1") == 0) {
    run = RunOnce("script -qec " + Quote(ctl + " jobs") + " /dev/null </dev/null", {});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(Visible(run.out).find(name + "  stored"), std::string::npos) << run.out;
  }
  run = Ctl({"--json", "jobs"}, ctl);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("\"name\": \"" + name + "\""), std::string::npos) << run.out;

  run = Ctl({"run", name, "--wait"}, ctl);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("job " + name + " measured"), std::string::npos) << run.out;
  run = Ctl({"measure", name, "--out", "résultat"}, ctl);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find(" files to résultat"), std::string::npos) << run.out;
  std::ifstream json(fs::path(folder.Path()) / "résultat" / "result.json");
  const std::string text((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\"job\": \"" + name + "\""), std::string::npos) << text.substr(0, 300);
  EXPECT_TRUE(fs::exists(fs::path(folder.Path()) / "résultat" / "images" / "r15as45.png"));

  // The record store of the Windows build: the measurement above went to
  // the prefix's default database; a library standard, a comparison and its
  // report in a database named on the command line.
  EXPECT_NE(run.out.find("recorded as #"), std::string::npos) << run.out;
  const std::vector<std::vector<std::string>> library = {
      {"standard", "add", name, "résultat", "--tolerance", "0.5", "--db", "läb.db"},
      {"compare", "std:" + name, "job:" + name, "--db", "läb.db"},
      {"history", "--standard", name, "--db", "läb.db"},
      {"report", "#2", "--out", "bericht.html", "--db", "läb.db"},
  };
  for (const auto& args : library) {
    run = Ctl(args, ctl);
    ASSERT_EQ(run.exitCode, 0) << args[0] << ": " << run.out;
  }
  EXPECT_NE(run.out.find("#2"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(fs::path(folder.Path()) / "läb.db"));
  EXPECT_TRUE(fs::exists(fs::path(folder.Path()) / "bericht.html"));

  run = Ctl({"message", name}, ctl);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(Log().find("user message: " + name + "\n"), std::string::npos);

  run = Ctl({"delete-job", name}, ctl);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("job " + name + " deleted"), std::string::npos) << run.out;
  EXPECT_TRUE(Jobs().empty());
}

}  // namespace
}  // namespace integration
