#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "FakeDriver.h"
#include "client/export/ResultFolder.h"
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

// Runs vantorelctl in-process with the given arguments and environment.
CtlRun Ctl(std::vector<std::string> args, std::map<std::string, std::string> environment = {}) {
  args.insert(args.begin(), "vantorelctl");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  vantorel::ctl::CtlIo io{out, err, false,
                          [&](const std::string& key) -> std::optional<std::string> {
                            auto found = environment.find(key);
                            if (found == environment.end()) return std::nullopt;
                            return found->second;
                          }};
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
  EXPECT_EQ(vantorel::ctl::ParseIpv4("192.168.0.17"),
            (std::array<std::uint8_t, 4>{192, 168, 0, 17}));
  EXPECT_EQ(vantorel::ctl::ParseIpv4("0.0.0.0"), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.4.5", "256.1.1.1", "1..2.3", " 1.2.3.4",
                          "1.2.3.4 ", "+1.2.3.4", "0001.2.3.4", "a.b.c.d"}) {
    EXPECT_FALSE(vantorel::ctl::ParseIpv4(bad).has_value()) << bad;
  }
}

TEST(VantorelctlOutcomes, ExitCodesFollowTheAnswers) {
  std::string port;
  {
    FakeDriver fake({Answers({Code(0)}), Answers({Code(1002)}), Answers({Code(99999)})});
    port = PortOf(fake);
    const CtlRun ok = Ctl({"connect", "usb", "--timeout-ms", "300", "--port", port});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    const CtlRun missing = Ctl({"delete-job", "J9", "--port", port});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "error: 1002: job not found\n");
    // Host and port from the environment; --json on the subcommand.
    const CtlRun json =
        Ctl({"cancel", "--json"}, {{"VANTOREL_HOST", "127.0.0.1"}, {"VANTOREL_PORT", port}});
    EXPECT_EQ(json.exitCode, 1);
    const auto parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["command"], "cancel");
    EXPECT_EQ(parsed["ok"], false);
    EXPECT_EQ(parsed["result"], 99999);
    EXPECT_EQ(parsed["transportError"], false);

    const auto frames = fake.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].body, (std::vector<std::uint8_t>{0, 0, 0, 0, 0x2C, 0x01, 0, 0}));
  }

  // The fake is gone: nothing listens on its port any more.
  const CtlRun gone = Ctl({"jobs", "--port", port, "--connect-timeout-ms", "500"});
  EXPECT_EQ(gone.exitCode, 3);
  EXPECT_NE(gone.err.find("error: cannot connect to 127.0.0.1:" + port), std::string::npos);
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

TEST(VantorelctlRun, WaitFollowsTheJobUntilMeasuredOrStopped) {
  FakeDriver fake({
      Answers({Code(0), clienttest::JobListBody(0, {Job("J1", 1, 2)}),
               clienttest::JobListBody(0, {Job("other", 0, 1), Job("J1", 2, 2)})}),
      Answers({Code(0), clienttest::JobListBody(0, {Job("J1", 1, 2)}),
               clienttest::JobListBody(0, {Job("J1", 0, 2)})}),
      Answers({Code(3005)}),
  });
  const std::string port = PortOf(fake);
  const CtlRun measured = Ctl({"run", "J1", "--wait", "--port", port});
  EXPECT_EQ(measured.exitCode, 0) << measured.err;
  EXPECT_NE(measured.out.find("job J1 measured"), std::string::npos);
  const CtlRun cancelled = Ctl({"run", "J1", "--wait", "--port", port});
  EXPECT_EQ(cancelled.exitCode, 1);
  EXPECT_NE(cancelled.err.find("stopped before it was measured"), std::string::npos);
  const CtlRun busy = Ctl({"run", "J1", "--port", port});
  EXPECT_EQ(busy.exitCode, 1);
  EXPECT_EQ(busy.err, "error: 3005: instrument busy: a job is measuring\n");
}

TEST(VantorelctlMeasure, WritesTheResultFolderOrReportsWhyNot) {
  const auto body = clienttest::MeasurementBody(0, clienttest::MakeMeasurement(0));
  FakeDriver fake({Answers({body}), Answers({body}), Answers({body})});
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

  const auto frames = fake.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].typeId, 6u);
  EXPECT_EQ(frames[1].typeId, 5u);
  std::filesystem::remove_all(base);
}

// After the combined measurement `measure` reads each sample of a measured
// job for the spread it writes beside the mean.
TEST(VantorelctlMeasure, ReadsEverySampleForTheSpread) {
  VantorelMeasurementsFull mean = clienttest::MakeMeasurement(0), low = mean, high = mean;
  low.measurements.at(R45As45).lab[0] -= 0.5f;
  high.measurements.at(R45As45).lab[0] += 0.5f;
  FakeDriver fake(Answers({clienttest::MeasurementBody(0, mean),
                           clienttest::JobListBody(0, {Job("J1", 2, 2)}),
                           clienttest::MeasurementBody(0, low),
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
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{5, 2, 6, 6}));
}

TEST(VantorelctlSelfTest, RunsEveryStepOnOneConnection) {
  FakeDriver fake(Answers({
      Code(0),                                                          // connect usb
      Code(0),                                                          // add job
      Code(0),                                                          // run
      clienttest::JobListBody(0, {Job("vantorelctl-selftest", 2, 1)}),  // measured
      clienttest::MeasurementBody(0, clienttest::MakeMeasurement(16)),  // sample 0
      Code(0),                                                          // delete
  }));
  const CtlRun run = Ctl({"selftest", "--port", PortOf(fake)});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("PASS  read sample 0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("selftest passed"), std::string::npos);
  const auto frames = fake.Frames();
  ASSERT_EQ(frames.size(), 6u);
  const std::uint64_t expected[] = {1, 8, 9, 2, 6, 4};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(frames[i].typeId, expected[i]);

  // A failing step skips the rest; no job was added, so none is deleted.
  FakeDriver failing(Answers({Code(3001)}));
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
      {{standard, batch, "--tolerance", "-1"}, 2, {"--tolerance"}},
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
  FakeDriver fake({Answers({body, clienttest::MeasurementBody(1002, {})})});
  const CtlRun same = Ctl({"compare", "job:Std", Path("std"), "--port", PortOf(fake)});
  EXPECT_EQ(same.exitCode, 0) << same.err;
  EXPECT_NE(same.out.find("job:Std (instrument)"), std::string::npos);
  const auto frames = fake.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].typeId, 5u);

  // Both sides on one connection; the second job is unknown to the driver.
  FakeDriver unknown({Answers({body, clienttest::MeasurementBody(1002, {})})});
  const CtlRun missing = Ctl({"compare", "job:Std", "job:Gone", "--port", PortOf(unknown)});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("1002"), std::string::npos);
}

}  // namespace
