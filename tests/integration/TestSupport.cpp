#include "integration/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace integration {

::testing::AssertionResult ConnectClient(vantorel::Client& client, std::uint32_t timeoutMs) {
  if (timeoutMs == 0) timeoutMs = Scaled(5000);
  const auto start = std::chrono::steady_clock::now();
  vantorel::Status status;
  do {
    status = client.Connect("127.0.0.1", 8889);
    if (status.Ok()) return ::testing::AssertionSuccess();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (ElapsedMs(start) < timeoutMs);
  return ::testing::AssertionFailure()
         << "cannot connect within " << timeoutMs << " ms: " << status.text;
}

::testing::AssertionResult ConnectRaw(RawClient& socket, std::uint32_t timeoutMs) {
  if (timeoutMs == 0) timeoutMs = Scaled(5000);
  const auto start = std::chrono::steady_clock::now();
  int error = 0;
  do {
    error = socket.Connect(8889, 1000);
    if (error == 0) return ::testing::AssertionSuccess();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (ElapsedMs(start) < timeoutMs);
  return ::testing::AssertionFailure()
         << "cannot connect within " << timeoutMs << " ms: errno " << error;
}

std::optional<JobAdvancedInfo> FindJob(const std::vector<JobAdvancedInfo>& jobs,
                                       const std::string& name) {
  for (const JobAdvancedInfo& job : jobs) {
    if (job.name == name) return job;
  }
  return std::nullopt;
}

::testing::AssertionResult WaitForJobState(vantorel::Client& client, const std::string& name,
                                           std::uint32_t state, std::uint32_t timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  std::string last = "no answer";
  do {
    const vantorel::JobsAnswer answer = client.GetJobs();
    if (!answer.status.Ok()) {
      return ::testing::AssertionFailure() << "job list: " << answer.status.text;
    }
    const std::optional<JobAdvancedInfo> job = FindJob(answer.jobs, name);
    if (!job) return ::testing::AssertionFailure() << "job " << name << " not listed";
    if (job->state == state) return ::testing::AssertionSuccess();
    last = "state " + std::to_string(job->state);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (ElapsedMs(start) < timeoutMs);
  return ::testing::AssertionFailure() << "job " << name << " did not reach state " << state
                                       << " within " << timeoutMs << " ms (" << last << ")";
}

::testing::AssertionResult EnsureSession(vantorel::Client& client) {
  if (client.GetJobs().status.Ok()) return ::testing::AssertionSuccess();
  const vantorel::Status connected = client.ConnectUsb(Scaled(5000));
  if (!connected.Ok()) return ::testing::AssertionFailure() << "connect: " << connected.text;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult PrepareMeasuredJob(vantorel::Client& client, const std::string& name,
                                              const std::string& make, std::uint32_t samples) {
  if (auto session = EnsureSession(client); !session) return session;
  const vantorel::Status added = client.AddJob(name, make, samples);
  if (!added.Ok()) return ::testing::AssertionFailure() << "add job: " << added.text;
  const vantorel::Status run = client.DoJob(name);
  if (!run.Ok()) return ::testing::AssertionFailure() << "run job: " << run.text;
  return WaitForJobState(client, name, 2, Scaled(10000));
}

std::int64_t ElapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

TempFolder::TempFolder() {
  char pattern[] = "/tmp/vantorel-it-copy-XXXXXX";
  if (::mkdtemp(pattern) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool TempFolder::Copy(const std::string& source, const std::string& name) {
  if (path_.empty()) return false;
  std::error_code error;
  std::filesystem::copy_file(source, path_ + "/" + name,
                             std::filesystem::copy_options::overwrite_existing, error);
  return !error;
}

}  // namespace integration
