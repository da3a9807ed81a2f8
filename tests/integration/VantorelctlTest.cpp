// vantorelctl against the real driver and virtual instrument: every
// subcommand a lab user runs, with its exit code, its output and, for
// measure/sample, the result folder it writes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

CtlRun RunOnce(const std::vector<std::string>& args) {
  std::string command = Quote(VANTOREL_CTL_PATH);
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

// Runs vantorelctl; a try that found the driver between two clients (exit 3:
// refused, or reset while waiting in the listening queue) is repeated.
CtlRun Ctl(const std::vector<std::string>& args) {
  CtlRun run;
  for (int attempt = 0; attempt < 50; ++attempt) {
    run = RunOnce(args);
    if (run.exitCode != 3) return run;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return run;
}

class Vantorelctl : public SharedDriver<Vantorelctl> {
 public:
  static Environment Env() { return FastInstrument(); }

 protected:
  void SetUp() override {
    SharedDriver<Vantorelctl>::SetUp();
    client.Close();  // the driver serves one client at a time: vantorelctl's turn
  }
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

  // Driver codes: exit 1 and the code's text on standard error.
  run = Ctl({"sample", "Azure pearl", "7", "--out", (fs::path(folder.Path()) / "x").string()});
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_NE(run.out.find("3004"), std::string::npos) << run.out;
  run = Ctl({"measure", "no such job"});
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_NE(run.out.find("job not found"), std::string::npos) << run.out;

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

}  // namespace
}  // namespace integration
