#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "FakeDriver.h"
#include "Version.h"
#include "client/export/ResultFolder.h"
#include "client/RequestChecks.h"
#include "client/vantorelctl/Commands.h"
#include "client/vantorelctl/Ctl.h"
#include "nlohmann/json.hpp"
#include "unit/export/ExportTestData.h"

namespace {

using clienttest::FakeDriver;
using clienttest::Peer;

struct CtlRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs vantorelctl in-process with the given arguments and environment;
// `interrupted` stands for the user's Ctrl-C.
CtlRun Ctl(std::vector<std::string> args, std::map<std::string, std::string> environment = {},
           std::function<bool()> interrupted = {}) {
  args.insert(args.begin(), "vantorelctl");
  // Records go to a database of this test program, never the user's.
  static const exporttest::TempDir databaseFolder;
  environment.emplace("VANTOREL_DB", (databaseFolder.path() / "lab.db").string());
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  vantorel::ctl::CtlIo io{out, err, false,
                          [&](const std::string& key) -> std::optional<std::string> {
                            auto found = environment.find(key);
                            if (found == environment.end()) return std::nullopt;
                            return found->second;
                          },
                          std::move(interrupted)};
  CtlRun run;
  run.exitCode = vantorel::ctl::RunVantorelctl(static_cast<int>(argv.size()), argv.data(), io);
  run.out = out.str();
  run.err = err.str();
  return run;
}

std::string PortOf(const FakeDriver& fake) { return std::to_string(fake.Port()); }

JobAdvancedInfo Job(const std::string& name, std::uint32_t state, std::int32_t samples) {
  JobAdvancedInfo job;
  job.name = name;
  job.state = state;
  job.sampleCount = samples;
  job.valid = true;
  return job;
}

// Answers each request with the next scripted body under the request's id.
FakeDriver::Script Answers(std::vector<std::vector<std::uint8_t>> bodies) {
  return [bodies = std::move(bodies)](Peer& peer) {
    for (const auto& body : bodies) {
      auto frame = peer.ReadFrame();
      if (!frame) return;
      peer.SendFrame(frame->typeId == 7 ? 1 : frame->typeId, body);
    }
  };
}

// One connection per body: vantorelctl sends one request per connection.
std::vector<FakeDriver::Script> OnePerConnection(std::vector<std::vector<std::uint8_t>> bodies) {
  std::vector<FakeDriver::Script> scripts;
  for (auto& body : bodies) scripts.push_back(Answers({std::move(body)}));
  return scripts;
}

std::vector<std::uint8_t> List(const std::vector<JobAdvancedInfo>& jobs, std::int32_t code = 0) {
  return clienttest::JobListBody(code, jobs);
}

std::vector<std::uint8_t> LogBody(const std::string& text) {
  std::vector<std::uint8_t> body;
  clienttest::PutU32(body, 0);
  clienttest::PutString(body, text + std::string(1, '\0'));
  return body;
}

std::vector<std::uint64_t> TypesOf(const std::vector<vantorel::RawFrame>& frames) {
  std::vector<std::uint64_t> types;
  for (const auto& frame : frames) types.push_back(frame.typeId);
  return types;
}

std::vector<std::uint8_t> Code(std::int32_t code) {
  std::vector<std::uint8_t> body;
  clienttest::PutU32(body, static_cast<std::uint32_t>(code));
  return body;
}

TEST(VantorelctlUsage, BadCommandLinesExitWithTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"connect"},
      {"connect", "net", "10.0.0"},
      {"connect", "net", "10.0.0.256"},
      {"add-job", "J1"},  // --samples missing
      {"sample", "J1", "x"},
      {"jobs", "--port", "70000"},
      {"message", "\xC3\x28"},
  };
  for (const auto& args : bad) {
    const CtlRun run = Ctl(args);
    EXPECT_EQ(run.exitCode, 2) << (args.empty() ? "(none)" : args[0]) << ": " << run.err;
    EXPECT_NE(run.err.find("error: "), std::string::npos);
  }
  const CtlRun envPort = Ctl({"jobs"}, {{"VANTOREL_PORT", "88x9"}});
  EXPECT_EQ(envPort.exitCode, 2);
  EXPECT_NE(envPort.err.find("VANTOREL_PORT"), std::string::npos);

  const CtlRun help = Ctl({"sample", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("INDEX"), std::string::npos);
  EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
}

TEST(VantorelctlUsage, ParsesOnlyStrictDottedAddresses) {
  EXPECT_EQ(vantorel::ParseIpv4("192.168.0.17"),
            (std::array<std::uint8_t, 4>{192, 168, 0, 17}));
  EXPECT_EQ(vantorel::ParseIpv4("0.0.0.0"), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.4.5", "256.1.1.1", "1..2.3", " 1.2.3.4",
                          "1.2.3.4 ", "+1.2.3.4", "0001.2.3.4", "a.b.c.d"}) {
    EXPECT_FALSE(vantorel::ParseIpv4(bad).has_value()) << bad;
  }
}

TEST(VantorelctlOutcomes, ExitCodesFollowTheAnswers) {
  std::string port;
  {
    FakeDriver fake({Answers({Code(0)}), Answers({Code(99999)})});
    port = PortOf(fake);
    const CtlRun ok = Ctl({"connect", "usb", "--timeout-ms", "300", "--port", port});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    // Host and port from the environment; --json on the subcommand.
    const CtlRun json =
        Ctl({"cancel", "--json"}, {{"VANTOREL_HOST", "127.0.0.1"}, {"VANTOREL_PORT", port}});
    EXPECT_EQ(json.exitCode, 1);
    const auto parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["command"], "cancel");
    EXPECT_EQ(parsed["ok"], false);
    EXPECT_EQ(parsed["result"], 99999);
    EXPECT_EQ(parsed["transportError"], false);
    EXPECT_EQ(parsed["hint"], "connect first: vantorelctl connect usb");

    const auto frames = fake.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].body, (std::vector<std::uint8_t>{0, 0, 0, 0, 0x2C, 0x01, 0, 0}));
  }

  // The fake is gone: nothing listens on its port any more. Refusals are
  // retried until --connect-timeout-ms, with one notice.
  const CtlRun gone = Ctl({"jobs", "--port", port, "--connect-timeout-ms", "300"});
  EXPECT_EQ(gone.exitCode, 3);
  EXPECT_EQ(
      gone.err.rfind("the driver is not running or is serving another client; retrying\u2026\n"
                     "error: cannot connect to 127.0.0.1:" +
                         port,
                     0),
      0u)
      << gone.err;
  EXPECT_NE(gone.err.find("tried for 0.3 s; --connect-timeout-ms waits longer"), std::string::npos);
}

// Each case: the arguments, the fake's answers (one connection each), the
// exit code, a text the output must hold, and the requests the fake saw.
TEST(VantorelctlOutcomes, CommandsCheckTheJobListAndSayWhatToDo) {
  const auto none = List({});
  const auto measured = List({Job("Std", 2, 2)});
  struct Case {
    std::vector<std::string> args;
    std::vector<std::vector<std::uint8_t>> answers;
    int exitCode;
    std::string text;
    std::vector<std::uint64_t> requests;
  };
  const Case cases[] = {
      // Nothing lost by a mistyped add-job or delete-job.
      {{"add-job", "Std", "--samples", "1"},
       {measured},
       1,
       "error: job 'Std' is already stored (measured, 2 samples); --replace replaces it and "
       "discards its readings\n",
       {2}},
      {{"add-job", "Std", "--samples", "1", "--replace"},
       {measured, Code(0)},
       0,
       "job Std stored (1 sample, replacing the earlier job)\n",
       {2, 8}},
      {{"add-job", "New", "--samples", "3"},
       {none, Code(0)},
       0,
       "job New stored (3 samples)\n",
       {2, 8}},
      {{"add-job", "New", "--samples", "3"},
       {none, Code(3007), LogBody("x WARNING job not stored: sample count 3 outside 0..2\n")},
       1,
       "error: 3007: invalid job description\nthe instrument refused it: sample count 3 outside "
       "0..2; it stores a job name of 1 to 4096 bytes",
       {2, 8, 12}},
      {{"add-job", "X", "--samples", "0"}, {}, 2, "a job of no samples measures nothing", {}},
      {{"add-job", "X", "--samples", "1001"}, {}, 2, "the instrument measures 1 to 1000", {}},
      {{"add-job", "", "--samples", "1"}, {}, 2, "the job name is empty", {}},
      {{"add-job", "X", "--samples", "1", "--make", "\xC3\x28"},
       {},
       2,
       "make is not valid UTF-8",
       {}},
      {{"delete-job", "No such job"},
       {none},
       1,
       "error: job 'No such job' is not stored\nvantorelctl jobs lists the stored jobs\n",
       {2}},
      {{"delete-job", "Std"}, {measured, Code(0)}, 0, "job Std deleted\n", {2, 4}},
      // measure and sample: the list first, then the request.
      {{"measure", "Azure pearl"},
       {List({Job("Azure pearl", 1, 3)})},
       1,
       "error: job Azure pearl is still measuring: vantorelctl run \"Azure pearl\" --wait waits "
       "for it\n",
       {2}},
      {{"measure", "J1"},
       {List({Job("J1", 0, 2)}), clienttest::MeasurementBody(3004, {})},
       1,
       "error: 3004: sample not measured (or index out of range)\njob J1 has not been measured: "
       "vantorelctl run J1 --wait\n",
       {2, 5}},
      {{"sample", "J1", "1"},
       {List({Job("J1", 0, 2)}), clienttest::MeasurementBody(3004, {})},
       1,
       "sample 1 of job J1 has not been measured: vantorelctl run J1 --wait",
       {2, 6}},
      {{"measure", "J0"}, {List({Job("J0", 0, 0)})}, 1, "has no samples: there is nothing", {2}},
      {{"measure", "Gone"}, {measured}, 1, "error: job 'Gone' is not stored", {2}},
      {{"sample", "Std", "2"},
       {measured},
       2,
       "sample 2 is out of range: job Std has 2 samples, numbered 0 to 1",
       {2}},
      {{"sample", "Std", "-1"}, {}, 2, "sample index -1: samples are numbered from 0", {}},
      // Every result code with the next step.
      {{"jobs"}, {List({}, 99999)}, 1, "connect first: vantorelctl connect usb", {2}},
      {{"cancel"}, {Code(3001)}, 1, "error: 3001: instrument not connected\nconnect first", {10}},
      {{"run", "J1"}, {none}, 1, "error: job 'J1' is not stored", {2}},
      {{"run", "J1"},
       {List({Job("J1", 0, 2), Job("Other", 1, 5)}), Code(3005)},
       1,
       "job Other is measuring: vantorelctl run Other --wait waits for it, vantorelctl cancel "
       "stops it",
       {2, 9}},
      {{"run", "J1"}, {List({Job("J1", 1, 2)})}, 1, "job J1 is still measuring", {2}},
      {{"connect", "usb"}, {Code(99999)}, 1, "the instrument did not answer", {1}},
      {{"message", "hi"},
       {Code(4711)},
       1,
       "error: 4711: device error 4711\na code of the instrument module",
       {11}},
      // Usage.
      {{"foo"}, {}, 2, "error: unknown subcommand 'foo'\nthe subcommands are: connect, jobs,", {}},
      {{}, {}, 2, "error: a subcommand is required\n", {}},
      {{"help"}, {}, 0, "Usage: vantorelctl [OPTIONS] SUBCOMMAND", {}},
      {{"help", "run"}, {}, 0, "Usage: vantorelctl run [OPTIONS] NAME", {}},
      {{"--version"}, {}, 0, std::string("vantorelctl ") + VANTOREL_VERSION + "\n", {}},
  };
  for (const Case& c : cases) {
    FakeDriver fake(OnePerConnection(c.answers));
    std::vector<std::string> args = c.args;
    if (!c.answers.empty()) args.insert(args.end(), {"--port", PortOf(fake)});
    const CtlRun run = Ctl(args);
    const std::string output = run.out + run.err;
    SCOPED_TRACE((c.args.empty() ? "(none)" : c.args[0]) + ": " + output);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE(output.find(c.text), std::string::npos) << c.text;
    EXPECT_EQ(TypesOf(fake.Frames()), c.requests);
  }
}

TEST(VantorelctlUsage, EachHelpListsItsOwnExitCodesAndTheGlobalOptions) {
  const CtlRun jobs = Ctl({"jobs", "--help"});
  EXPECT_EQ(jobs.exitCode, 0);
  EXPECT_NE(jobs.out.find("--connect-timeout-ms N"), std::string::npos) << jobs.out;
  EXPECT_NE(jobs.out.find("  3   the driver cannot be reached"), std::string::npos);
  EXPECT_EQ(jobs.out.find("  4 "), std::string::npos) << jobs.out;
  EXPECT_EQ(jobs.out.find("  5 "), std::string::npos) << jobs.out;
  const CtlRun run = Ctl({"run", "--help"});
  EXPECT_NE(run.out.find("  130 Ctrl-C while waiting"), std::string::npos) << run.out;
  const CtlRun compare = Ctl({"compare", "--help"});
  EXPECT_NE(compare.out.find("  5   a geometry of the batch"), std::string::npos) << compare.out;
  EXPECT_EQ(compare.out.find("130"), std::string::npos);
}

TEST(VantorelctlOutput, JobsPrintsAnAlignedTableAndJson) {
  const auto body = clienttest::JobListBody(
      0, {Job("panel-A", 0, 3), Job("J2", 1, 12), Job("door", 2, 1), Job("odd", 7, 0)});
  FakeDriver fake({Answers({body}), Answers({body})});
  const CtlRun table = Ctl({"jobs", "--port", PortOf(fake)});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_EQ(table.out,
            "NAME     STATE      SAMPLES\n"
            "panel-A  stored     3\n"
            "J2       measuring  12\n"
            "door     measured   1\n"
            "odd      state 7    0\n");

  const CtlRun json = Ctl({"--json", "jobs", "--port", PortOf(fake)});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const auto parsed = nlohmann::json::parse(json.out);
  EXPECT_EQ(parsed["ok"], true);
  ASSERT_EQ(parsed["jobs"].size(), 4u);
  EXPECT_EQ(parsed["jobs"][1]["state"], "measuring");
  EXPECT_EQ(parsed["jobs"][1]["sampleCount"], 12);
}

// run --wait polls on a connection per request (each script of the fake
// answers one request), so the driver is free between polls.
TEST(VantorelctlRun, WaitFollowsTheJobOnAConnectionPerPoll) {
  const auto stored = List({Job("J1", 0, 2)});
  const auto measuring = List({Job("J1", 1, 2)});
  const auto measured = List({Job("other", 0, 1), Job("J1", 2, 2)});
  const auto delayedMeasuring = List({Job("J1", 1, 2), Job("slow", 0, 1)});
  struct Case {
    std::vector<std::string> extra;
    std::vector<std::vector<std::uint8_t>> answers;
    int exitCode;
    std::string text;
    std::vector<std::uint64_t> requests;
  };
  const Case cases[] = {
      {{}, {stored, Code(0), measuring, measured}, 0, "job J1 measured in", {2, 9, 2, 2}},
      {{},
       {stored, Code(0), measuring, stored},
       1,
       "job J1 stopped before it was measured (stored)",
       {2, 9, 2, 2}},
      // A job measuring already is waited for, not started again.
      {{}, {measuring, measured}, 0, "job J1 is measuring already; waiting for it", {2, 2}},
      {{"--wait-timeout-ms", "1"},
       {stored, Code(0), delayedMeasuring},
       1,
       "error: job J1 not measured within 0.0 s\njob J1 goes on measuring: vantorelctl cancel "
       "stops it, vantorelctl run J1 --wait waits for it again\n",
       {2, 9, 2}},
  };
  for (const Case& c : cases) {
    std::vector<FakeDriver::Script> scripts = OnePerConnection(c.answers);
    if (c.answers.back() == delayedMeasuring) {
      // The clock must move past the 1 ms limit before the first poll is answered.
      scripts.back() = [&](Peer& peer) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Answers({measuring})(peer);
      };
    }
    FakeDriver fake(std::move(scripts));
    std::vector<std::string> args = {"run", "J1", "--wait", "--port", PortOf(fake)};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const CtlRun run = Ctl(args);
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE((run.out + run.err).find(c.text), std::string::npos) << c.text;
    EXPECT_EQ(TypesOf(fake.Frames()), c.requests);
  }

  // Ctrl-C during the wait: exit 130, and the job goes on measuring.
  std::atomic<bool> pressed{false};
  std::vector<FakeDriver::Script> scripts = OnePerConnection({stored, Code(0)});
  scripts.push_back([&](Peer& peer) {
    Answers({measuring})(peer);
    pressed = true;
  });
  FakeDriver fake(std::move(scripts));
  const CtlRun run =
      Ctl({"run", "J1", "--wait", "--port", PortOf(fake)}, {}, [&] { return pressed.load(); });
  EXPECT_EQ(run.exitCode, 130);
  EXPECT_EQ(run.err,
            "error: interrupted while waiting\njob J1 goes on measuring: vantorelctl cancel stops "
            "it, vantorelctl run J1 --wait waits for it again\n");
  EXPECT_EQ(TypesOf(fake.Frames()), (std::vector<std::uint64_t>{2, 9, 2}));
}

TEST(VantorelctlMeasure, WritesTheResultFolderOrReportsWhyNot) {
  const auto body = clienttest::MeasurementBody(0, clienttest::MakeMeasurement(0));
  const auto list = List({Job("J1", 2, 3)});
  // sample: the job list, the sample; each measure: the job list, the
  // measurement, then the job list and the three samples for their spread.
  FakeDriver fake(OnePerConnection(
      {list, body, list, body, list, body, body, body, list, body, list, body, body, body}));
  const std::string port = PortOf(fake);
  const auto base =
      std::filesystem::temp_directory_path() / ("vantorelctl-test-" + std::to_string(fake.Port()));
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base / "occupied");
  std::filesystem::create_directories(base / "occupied" / "stuff");

  const CtlRun written = Ctl({"sample", "J1", "2", "--out", (base / "r").string(), "--port", port});
  EXPECT_EQ(written.exitCode, 0) << written.err;
  EXPECT_TRUE(std::filesystem::exists(base / "r" / "result.json"));

  const CtlRun refused =
      Ctl({"measure", "J1", "--out", (base / "occupied").string(), "--port", port});
  EXPECT_EQ(refused.exitCode, 4);
  EXPECT_NE(refused.err.find("cannot write the result folder"), std::string::npos);

  const CtlRun summary = Ctl({"measure", "J1", "--port", port});
  EXPECT_EQ(summary.exitCode, 0) << summary.err;
  EXPECT_EQ(summary.out.rfind("GEOMETRY", 0), 0u);
  EXPECT_NE(summary.out.find("r45as110"), std::string::npos);

  EXPECT_EQ(TypesOf(fake.Frames()),
            (std::vector<std::uint64_t>{2, 6, 2, 5, 2, 6, 6, 6, 2, 5, 2, 6, 6, 6}));
  std::filesystem::remove_all(base);
}

// After the combined measurement `measure` reads each sample of a measured
// job for the spread it writes beside the mean.
TEST(VantorelctlMeasure, ReadsEverySampleForTheSpread) {
  VantorelMeasurementsFull mean = clienttest::MakeMeasurement(0), low = mean, high = mean;
  low.measurements.at(R45As45).lab[0] -= 0.5f;
  high.measurements.at(R45As45).lab[0] += 0.5f;
  FakeDriver fake(OnePerConnection(
      {clienttest::JobListBody(0, {Job("J1", 2, 2)}), clienttest::MeasurementBody(0, mean),
       clienttest::JobListBody(0, {Job("J1", 2, 2)}), clienttest::MeasurementBody(0, low),
       clienttest::MeasurementBody(0, high)}));
  exporttest::TempDir dir;
  const CtlRun run =
      Ctl({"measure", "J1", "--out", (dir.path() / "r").string(), "--port", PortOf(fake)});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("(mean of 2 samples)"), std::string::npos) << run.out;
  const auto json = nlohmann::json::parse(exporttest::ReadFile(dir.path() / "r" / "result.json"));
  EXPECT_EQ(json["sampleCount"], 2);
  EXPECT_NEAR(json["geometries"][8]["range"]["L"].get<double>(), 1.0, 1e-4);
  EXPECT_NEAR(json["geometries"][8]["stdev"]["L"].get<double>(), std::sqrt(0.5), 1e-4);
  std::vector<std::uint32_t> ids;
  for (const auto& frame : fake.Frames()) ids.push_back(frame.typeId);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{2, 5, 2, 6, 6}));
}

TEST(VantorelctlSelfTest, RunsEveryStepOneRequestAtATime) {
  // The first connection only shows that the driver can be reached.
  std::vector<FakeDriver::Script> scripts = {[](Peer& peer) { peer.WaitForClose(); }};
  for (auto& script : OnePerConnection({
           Code(0),                                                          // connect usb
           Code(0),                                                          // add job
           Code(0),                                                          // run
           clienttest::JobListBody(0, {Job("vantorelctl-selftest", 2, 1)}),  // measured
           clienttest::MeasurementBody(0, clienttest::MakeMeasurement(16)),  // sample 0
           Code(0),                                                          // delete
       })) {
    scripts.push_back(std::move(script));
  }
  FakeDriver fake(std::move(scripts));
  const CtlRun run = Ctl({"selftest", "--port", PortOf(fake)});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("PASS  read sample 0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("selftest passed"), std::string::npos);
  EXPECT_EQ(TypesOf(fake.Frames()), (std::vector<std::uint64_t>{1, 8, 9, 2, 6, 4}));

  // A failing step skips the rest; no job was added, so none is deleted.
  FakeDriver failing({[](Peer& peer) { peer.WaitForClose(); }, Answers({Code(3001)})});
  const CtlRun failed = Ctl({"selftest", "--json", "--port", PortOf(failing)});
  EXPECT_EQ(failed.exitCode, 1);
  const auto parsed = nlohmann::json::parse(failed.out);
  EXPECT_EQ(parsed["ok"], false);
  ASSERT_EQ(parsed["steps"].size(), 5u);
  EXPECT_EQ(parsed["steps"][1]["pass"], false);
  EXPECT_EQ(parsed["steps"][4]["skipped"], true);
}

// Two result folders with known values: the batch is 0.5 L* lighter at
// r45as45, 3 L* at r15as15, and lacks r45as110.
class VantorelctlCompare : public ::testing::Test {
 protected:
  void SetUp() override {
    const VantorelMeasurementsFull standard = exporttest::MakeFull();
    VantorelMeasurementsFull batch = standard;
    batch.measurements.at(R45As45).lab[0] += 0.5f;
    batch.measurements.at(R15As15).lab[0] += 3.0f;
    batch.measurements.erase(R45As110);
    ASSERT_TRUE(
        vantorel::exporter::WriteResultFolder(Path("std"), exporttest::MakeRequest(standard)).ok);
    ASSERT_TRUE(
        vantorel::exporter::WriteResultFolder(Path("batch"), exporttest::MakeRequest(batch)).ok);
    exporttest::WriteFile(Path("tolerances.txt"), "r15as15 4\n* 1\n");
    exporttest::WriteFile(Path("typo.txt"), "r15as15 4\nR15AS-15 2.0\n");
    exporttest::WriteFile(Path("empty.txt"), "");
    exporttest::WriteFile(Path("empty.cxf"), "<CxF><Resources/></CxF>");
    std::filesystem::create_directories(Path("plain"));
  }
  std::string Path(const std::string& name) const { return (dir_.path() / name).string(); }

  exporttest::TempDir dir_;
};

TEST_F(VantorelctlCompare, RowsVerdictAndExitCodes) {
  const std::string standard = Path("std"), batch = Path("batch");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> output;  // on standard output, or on standard error for errors
  };
  const Case cases[] = {
      {{standard, batch},
       5,
       {"GEOMETRY  dL*    da*    db*    dC*    dH*    dE00", "\nr15as15   +3.00  +0.00  +0.00",
        "FAIL\n", "\nr45as110  -", "only in standard\n",
        "verdict   FAIL: 1 of 10 geometries outside tolerance (1 on one side only, not compared)"}},
      {{standard, batch, "--tolerance", "5", "--formula", "de76"},
       0,
       {"dE76", "\nr15as15   +3.00  +0.00  +0.00  +0.00  +0.00  3.00  5.00  pass\n",
        "verdict   PASS: 10 of 10"}},
      {{standard, batch, "--tolerance-file", Path("tolerances.txt")}, 0, {"4.00  pass\n"}},
      {{Path("std/result.cxf"), standard, "--formula", "cmc"}, 0, {"CxF3 file", "PASS: 11 of 11"}},
      {{standard, Path("nothere")}, 2, {"no such result folder or CxF3 file"}},
      {{Path("plain"), batch}, 2, {"is not a result folder"}},
      {{standard, Path("empty.cxf")}, 2, {"holds no ColorCIELab values"}},
      {{standard, batch, "--formula", "de2001"}, 2, {"--formula"}},
      {{standard, batch, "--tolerance", "-1"},
       2,
       {"--tolerance: \"-1\" is not a tolerance: give a number of 0 or more, such as 1.0\n"}},
      {{standard, Path("std/result.json")},
       2,
       {"result.json is not a CxF file (it holds JSON; for a result.json give its result folder "
        "instead)"}},
      {{standard, batch, "--tolerance-file", Path("typo.txt")},
       2,
       {"typo.txt:2: \"R15AS-15\" is not a geometry"}},
      {{standard, batch, "--tolerance-file", Path("empty.txt")},
       2,
       {"empty.txt:1: the file holds no tolerance"}},
      {{standard, batch, "--tolerance", "1", "--tolerance-file", Path("tolerances.txt")},
       2,
       {"excludes"}},
      {{standard, batch, "--tolerance-file", Path("nothere")}, 2, {"nothere"}},
      {{standard, "job:"}, 2, {"job: needs a job name"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"compare"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CtlRun run = Ctl(args);
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.exitCode, c.exitCode);
    for (const std::string& text : c.output) {
      EXPECT_NE((c.exitCode == 0 || c.exitCode == 5 ? run.out : run.err).find(text),
                std::string::npos)
          << text;
    }
  }
}

TEST_F(VantorelctlCompare, JsonAndQcFolderCarryTheWholeComparison) {
  const CtlRun run = Ctl({"compare", Path("std"), Path("batch"), "--json", "--out", Path("qc")});
  ASSERT_EQ(run.exitCode, 5) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["command"], "compare");
  EXPECT_EQ(json["pass"], false);
  EXPECT_EQ(json["failed"], 1);
  ASSERT_EQ(json["geometries"].size(), 11u);
  const auto& r45as45 = json["geometries"][8];
  EXPECT_EQ(r45as45["geometry"], "r45as45");
  EXPECT_NEAR(r45as45["dL"].get<double>(), 0.5, 1e-4);
  EXPECT_EQ(r45as45["status"], "pass");
  EXPECT_EQ(json["onlyInStandard"], nlohmann::json::array({"r45as110"}));
  EXPECT_TRUE(json["batch"]["flopIndex"].is_null());  // no r45as110
  EXPECT_TRUE(json["standard"]["flopIndex"].is_number());
  for (const char* file : {"qc.json", "qc.csv", "qc.svg"}) {
    EXPECT_TRUE(std::filesystem::exists(dir_.path() / "qc" / file)) << file;
  }
  // The folder exists now: refused unless forced.
  EXPECT_EQ(Ctl({"compare", Path("std"), Path("batch"), "--out", Path("qc")}).exitCode, 4);
  EXPECT_EQ(Ctl({"compare", Path("std"), Path("batch"), "--out", Path("qc"), "--force"}).exitCode,
            5);
}

TEST_F(VantorelctlCompare, JobSidesAreMeasuredByTheDriver) {
  const auto body = clienttest::MeasurementBody(0, exporttest::MakeFull());
  const auto list = List({Job("Std", 2, 3), Job("Busy", 1, 3)});
  FakeDriver fake(OnePerConnection({list, body}));
  const CtlRun same =
      Ctl({"compare", "job:Std", Path("std"), "--port", PortOf(fake), "--no-record"});
  EXPECT_EQ(same.exitCode, 0) << same.err;
  EXPECT_NE(same.out.find("job:Std (instrument)"), std::string::npos);
  EXPECT_EQ(TypesOf(fake.Frames()), (std::vector<std::uint64_t>{2, 5}));

  // As measure: a job not stored or still measuring is refused from the list.
  FakeDriver refused(OnePerConnection({list, body, list, list}));
  const CtlRun missing =
      Ctl({"compare", "job:Std", "job:Gone", "--port", PortOf(refused), "--no-record"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("job 'Gone' is not stored"), std::string::npos) << missing.err;
  const CtlRun busy =
      Ctl({"compare", "job:Busy", Path("std"), "--port", PortOf(refused), "--no-record"});
  EXPECT_EQ(busy.exitCode, 1);
  EXPECT_NE(busy.err.find("job Busy is still measuring"), std::string::npos) << busy.err;
}

}  // namespace

namespace {

// The lab's records: what measure keeps, and the database's failures.
TEST(VantorelctlRecords, MeasureRecordsUnlessToldNotToAndSaysWhenItCannot) {
  const auto body = clienttest::MeasurementBody(0, clienttest::MakeMeasurement(0));
  const auto list = List({Job("J1", 2, 2)});
  const std::vector<std::vector<std::uint8_t>> measure = {list, body, list, body, body};
  std::vector<std::vector<std::uint8_t>> script;
  for (int i = 0; i < 3; ++i) script.insert(script.end(), measure.begin(), measure.end());
  FakeDriver fake(OnePerConnection(script));
  exporttest::TempDir dir;
  const std::map<std::string, std::string> env = {
      {"VANTOREL_DB", (dir.path() / "lab.db").string()}};

  const CtlRun recorded =
      Ctl({"measure", "J1", "--json", "--port", PortOf(fake), "--operator", "Zoë", "--make", "red"},
          env);
  ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
  EXPECT_EQ(nlohmann::json::parse(recorded.out)["record"], 1);
  EXPECT_NE(recorded.err.find("recorded as #1"), std::string::npos) << recorded.err;

  const CtlRun skipped =
      Ctl({"measure", "J1", "--json", "--no-record", "--port", PortOf(fake)}, env);
  ASSERT_EQ(skipped.exitCode, 0) << skipped.err;
  EXPECT_FALSE(nlohmann::json::parse(skipped.out).contains("record"));

  const CtlRun shown = Ctl({"show", "#1", "--json"}, env);
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  const auto json = nlohmann::json::parse(shown.out);
  EXPECT_EQ(json["job"], "J1");
  EXPECT_EQ(json["make"], "red");
  EXPECT_EQ(json["operator"], "Zoë");
  EXPECT_EQ(json["samples"], 2);
  EXPECT_EQ(json["geometries"].size(), 11u);
  EXPECT_EQ(nlohmann::json::parse(Ctl({"history", "--json"}, env).out)["records"].size(), 1u);

  // A folder is no database: the summary is printed, the failure is exit 6.
  const CtlRun failed =
      Ctl({"measure", "J1", "--port", PortOf(fake)}, {{"VANTOREL_DB", dir.path().string()}});
  EXPECT_EQ(failed.exitCode, 6);
  EXPECT_EQ(failed.out.rfind("GEOMETRY", 0), 0u);
  EXPECT_NE(failed.err.find("was not recorded"), std::string::npos) << failed.err;
}

TEST(VantorelctlRecords, UnusableDatabasesAreClearErrors) {
  exporttest::TempDir dir;
  exporttest::WriteFile((dir.path() / "damaged.db").string(), std::string(2048, 'x'));
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string error;
  } cases[] = {
      {{"history", "--db", "postgresql://lab:secret@db/colour"}, 2, "carries a password"},
      {{"history", "--db", (dir.path() / "damaged.db").string()}, 6, "cannot be used"},
      {{"show", "#7", "--db", (dir.path() / "new.db").string()}, 2, "no record #7"},
      {{"show", "7x"}, 2, "not a record id"},
      {{"history", "--since", "2026-13-01"}, 2, "not a date"},
      {{"report", "#7", "--db", (dir.path() / "new.db").string()}, 2, "no comparison #7"},
      {{"trend", "std:Nothing", "--db", (dir.path() / "new.db").string()}, 2, "no standard named"},
  };
  for (const auto& c : cases) {
    const CtlRun run = Ctl(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args[0] << ": " << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
}

// A standard of the library with its tolerances, comparisons against it
// (recorded with the version they used), a new version, the trend and the
// report of one comparison.
TEST_F(VantorelctlCompare, LibraryStandardsAreComparedWithTheirTolerancesAndRecorded) {
  const std::map<std::string, std::string> env = {{"VANTOREL_DB", Path("lab.db")}};
  const auto ctl = [&](std::vector<std::string> args) { return Ctl(std::move(args), env); };
  CtlRun run = ctl({"standard", "add", "Azure", Path("std"), "--tolerance-file",
                    Path("tolerances.txt"), "--note", "agreed"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("stored as version 1"), std::string::npos) << run.out;
  EXPECT_EQ(ctl({"standard", "add", "Azure", Path("batch")}).exitCode, 2);

  // The stored tolerances pass r15as15 (dL* 3, tolerance 4); an option overrides them.
  run = ctl({"compare", "std:Azure", Path("batch"), "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::int64_t first = nlohmann::json::parse(run.out)["comparison"];
  EXPECT_NE(run.err.find("comparison recorded as #" + std::to_string(first)), std::string::npos);
  run = ctl({"compare", "std:Azure", Path("batch"), "--tolerance", "1"});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_NE(run.out.find("comparison recorded as #"), std::string::npos);

  ASSERT_EQ(ctl({"standard", "add", "Azure", Path("batch"), "--replace"}).exitCode, 0);
  run = ctl({"compare", "std:Azure", Path("batch")});
  EXPECT_NE(run.out.find("version 2"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("PASS"), std::string::npos) << run.out;

  run = ctl({"trend", "Azure", "--json", "--out", Path("trend")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<int> versions;
  const nlohmann::json trend = nlohmann::json::parse(run.out);
  for (const auto& point : trend["points"]) versions.push_back(point["version"].get<int>());
  EXPECT_EQ(versions, (std::vector<int>{1, 1, 2}));
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "trend" / "trend.svg"));

  run = ctl({"report", "#" + std::to_string(first), "--out", Path("report.html")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_GT(std::filesystem::file_size(Path("report.html")), 1000u);
  EXPECT_EQ(ctl({"report", "#" + std::to_string(first), "--out", Path("report.html")}).exitCode, 4);
  EXPECT_EQ(ctl({"show", "#" + std::to_string(first)}).exitCode, 0);

  ASSERT_EQ(ctl({"standard", "remove", "Azure"}).exitCode, 0);
  EXPECT_NE(ctl({"standard", "list"}).out.find("no standards"), std::string::npos);
  run = ctl({"compare", "std:Azure", Path("batch")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("no standard named 'Azure'"), std::string::npos) << run.err;
  // The records still name the versions they used.
  EXPECT_EQ(nlohmann::json::parse(ctl({"trend", "Azure", "--json"}).out)["points"].size(), 3u);
}

}  // namespace
