#include "integration/DriverProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "fakes/RawClient.h"
#include "messages/MessageHeader.h"

extern char** environ;

namespace integration {
namespace {

constexpr std::uint16_t kDriverPort = 8889;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// One log request over a fresh connection. Only an answer proves that the
// driver accepted this connection: a connection that merely reached the
// listening socket's queue is reset when the driver, having accepted another
// one, closes that socket. After the answer the probe leaves, and the driver
// drops it and listens again.
bool ProbeDriver(std::uint32_t timeoutMs) {
  RawClient probe;
  if (probe.Connect(kDriverPort, timeoutMs) != 0) return false;
  return probe.Send(Protocol::BuildFrame(12, {0})) && probe.ReadFrame(timeoutMs).has_value();
}

std::optional<int> DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return std::nullopt;
}

}  // namespace

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

bool WineMode() { return !EnvOr("VANTOREL_DRIVER_WINE", "").empty(); }

std::string DriverExecutable() {
  if (WineMode()) return EnvOr("VANTOREL_DRIVER_WINE", "");
  return EnvOr("VANTOREL_DRIVER_CMD", VANTOREL_DRIVER_PATH);
}

std::string DriverFolder() { return FolderOf(DriverExecutable()); }

std::string ModuleSuffix() { return WineMode() ? ".dll" : ".so"; }

std::uint32_t Scaled(std::uint32_t nativeMs) { return WineMode() ? nativeMs * 4 : nativeMs; }

Environment FastInstrument() {
  return {{"VANTOREL_SIM_CONNECT_MS", "20"},
          {"VANTOREL_SIM_SAMPLE_MS", "10"},
          {"VANTOREL_SIM_IMAGE_PX", "32"}};
}

Environment With(Environment base, const std::string& name, const std::string& value) {
  for (auto& entry : base) {
    if (entry.first == name) {
      entry.second = value;
      return base;
    }
  }
  base.emplace_back(name, value);
  return base;
}

DriverProcess::~DriverProcess() {
  Stop();
  if (!outputDir_.empty()) {
    ::unlink((outputDir_ + "/stdout").c_str());
    ::unlink((outputDir_ + "/stderr").c_str());
    ::rmdir(outputDir_.c_str());
  }
}

bool DriverProcess::Start(const Environment& env, const std::string& executable,
                          const std::string& workDir) {
  if (pid_ > 0) {
    failure_ = "a driver process is already running";
    return false;
  }
  failure_.clear();
  exitCode_.reset();
  if (outputDir_.empty()) {
    char pattern[] = "/tmp/vantorel-it-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      failure_ = std::string("mkdtemp: ") + std::strerror(errno);
      return false;
    }
    outputDir_ = pattern;
  }
  const std::string exe = executable.empty() ? DriverExecutable() : executable;
  const std::string dir = workDir.empty() ? FolderOf(exe) : workDir;
  const std::string outPath = outputDir_ + "/stdout";
  const std::string errPath = outputDir_ + "/stderr";

  // Everything the child needs is prepared before fork: between fork and exec
  // only async-signal-safe calls are allowed.
  std::vector<std::string> args;
  // The loader: `wine` for the 32-bit build; VANTOREL_WINE_LOADER names
  // another one (the 64-bit build needs /usr/lib/wine/wine64).
  if (WineMode()) args.push_back(EnvOr("VANTOREL_WINE_LOADER", "wine"));
  args.push_back(exe);
  std::vector<std::string> vars;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "VANTOREL_SIM_", 13) == 0) continue;
    vars.emplace_back(*entry);
  }
  Environment all = env;
  if (WineMode()) {
    all = With(all, "WINEDEBUG", "-all");
    all = With(all, "WINEDLLOVERRIDES", "mscoree,mshtml=");
  }
  for (const auto& [name, value] : all) {
    const std::string prefix = name + "=";
    for (auto it = vars.begin(); it != vars.end();) {
      it = it->compare(0, prefix.size(), prefix) == 0 ? vars.erase(it) : it + 1;
    }
    vars.push_back(prefix + value);
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& var : vars) envp.push_back(var.data());
  envp.push_back(nullptr);
  const bool searchPath = WineMode();

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    failure_ = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    // A test or benchmark that dies (a crash, an exit on failure) takes its
    // driver with it instead of leaving it on the port for the next run.
    // Every driver is started from the thread that stops it.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(125);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
        ::dup2(in, 0) < 0 || ::chdir(dir.c_str()) != 0) {
      ::_exit(126);
    }
    if (searchPath) {
      ::execvpe(argv[0], argv.data(), envp.data());
    } else {
      ::execve(argv[0], argv.data(), envp.data());
    }
    ::_exit(127);
  }
  pid_ = pid;
  return true;
}

bool DriverProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    exitCode_ = DecodeStatus(status);
    pid_ = -1;
    return false;
  }
  return done == 0;
}

std::optional<int> DriverProcess::WaitExit(std::uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!Running()) return exitCode_;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::optional<int> DriverProcess::Stop() {
  if (Running()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_) exitCode_ = DecodeStatus(status);
    pid_ = -1;
  }
  return exitCode_;
}

bool DriverProcess::WaitForPort(std::uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!Running()) {
      failure_ = "the driver ended before it listened (exit code " +
                 (exitCode_ ? std::to_string(*exitCode_) : std::string("?")) + ")\n" + Describe();
      return false;
    }
    if (ProbeDriver(WineMode() ? 5000 : 1000)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  failure_ = "port " + std::to_string(kDriverPort) + " not accepting after " +
             std::to_string(timeoutMs) + " ms\n" + Describe();
  return false;
}

bool DriverProcess::StartAndWait(const Environment& env) {
  // The port is machine-wide: another driver on it would answer our probes
  // and take our clients.
  // A driver ended a moment ago (an earlier suite's) may still hold it: under
  // Wine the wine server closes a killed program's sockets a little later.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(WineMode() ? 10000 : 2000);
  for (;;) {
    RawClient other;
    if (other.Connect(kDriverPort, 200) != 0) break;
    if (std::chrono::steady_clock::now() > deadline) {
      failure_ = "port " + std::to_string(kDriverPort) +
                 " is already served by another process; the integration tests need it alone";
      return false;
    }
    other.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return Start(env) && WaitForPort(WineMode() ? 60000 : 10000);
}

std::string DriverProcess::Stdout() const {
  return outputDir_.empty() ? std::string() : ReadWhole(outputDir_ + "/stdout");
}

std::string DriverProcess::Stderr() const {
  return outputDir_.empty() ? std::string() : ReadWhole(outputDir_ + "/stderr");
}

std::string DriverProcess::SanitizerFindings() const {
  std::istringstream lines(Stderr());
  std::string line, findings;
  while (std::getline(lines, line)) {
    if (line.find("runtime error:") != std::string::npos ||
        line.find("Sanitizer") != std::string::npos) {
      findings += line + "\n";
    }
  }
  return findings;
}

std::string DriverProcess::Describe() const {
  return "--- driver stdout ---\n" + Stdout() + "--- driver stderr ---\n" + Stderr();
}

}  // namespace integration
