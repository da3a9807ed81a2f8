// Helpers shared by the integration tests: connecting a vantorel::Client to
// the driver, preparing measured jobs on the virtual instrument, temporary
// folders with copies of the driver, and SharedDriver, the fixture that runs
// one driver process for all tests of a suite.
//
// Threads: test thread only.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/Client.h"
#include "fakes/RawClient.h"
#include "integration/DriverProcess.h"

namespace integration {

// Connects `client` to 127.0.0.1:8889. Refused attempts are repeated for up to
// `timeoutMs` (0: 5 s, four times that under Wine): after a client leaves, the
// driver needs a moment to listen again.
::testing::AssertionResult ConnectClient(vantorel::Client& client, std::uint32_t timeoutMs = 0);

// The job of that name in `jobs`, or nullopt.
std::optional<JobAdvancedInfo> FindJob(const std::vector<JobAdvancedInfo>& jobs,
                                       const std::string& name);

// Polls the job list until the job `name` has driver state `state`.
::testing::AssertionResult WaitForJobState(vantorel::Client& client, const std::string& name,
                                           std::uint32_t state, std::uint32_t timeoutMs);

// Opens the device session with a USB connect unless the job list shows one
// is open already.
::testing::AssertionResult EnsureSession(vantorel::Client& client);

// Connects the instrument over USB if needed (session assumed open when the
// job list answers 0), stores job `name` with `make` and `samples`, runs it
// and waits until it is measured (state 2).
::testing::AssertionResult PrepareMeasuredJob(vantorel::Client& client, const std::string& name,
                                              const std::string& make, std::uint32_t samples);

// Connects `socket` to the driver, repeating refused attempts as ConnectClient.
// Only an answered request proves that the driver accepted the connection.
::testing::AssertionResult ConnectRaw(RawClient& socket, std::uint32_t timeoutMs = 0);

// Milliseconds since `start`.
std::int64_t ElapsedMs(std::chrono::steady_clock::time_point start);

// A new empty folder under /tmp, removed with its files by the destructor.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  // Copies `source` into the folder as `name` (keeping the execute bit).
  bool Copy(const std::string& source, const std::string& name);

 private:
  std::string path_;
};

// Fixture for a suite whose tests share one driver process, started once with
// Suite::Env(). Every test starts with `client` connected and ends with it
// closed and the driver checked to be still running.
template <typename Suite>
class SharedDriver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    driver = std::make_unique<DriverProcess>();
    started = driver->StartAndWait(Suite::Env());
  }
  static void TearDownTestSuite() { driver.reset(); }

  void SetUp() override {
    ASSERT_TRUE(started) << driver->Failure();
    ASSERT_TRUE(driver->Running()) << "the shared driver has ended\n" << driver->Describe();
    ASSERT_TRUE(ConnectClient(client));
  }
  void TearDown() override {
    client.Close();
    EXPECT_TRUE(driver->Running()) << "the driver ended during the test\n" << driver->Describe();
    EXPECT_EQ(driver->SanitizerFindings(), "");
    if (HasFailure()) std::fprintf(stderr, "%s", driver->Describe().c_str());
  }

  static inline std::unique_ptr<DriverProcess> driver;
  static inline bool started = false;
  vantorel::Client client;
};

}  // namespace integration
