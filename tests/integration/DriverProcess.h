// DriverProcess: one run of the real driver executable for the integration
// tests, with its standard output and standard error captured to files.
//
// The executable is the native build's driver (compile definition
// VANTOREL_DRIVER_PATH), overridden by the environment variable
// VANTOREL_DRIVER_CMD; when VANTOREL_DRIVER_WINE names a Windows build of the
// driver (vantorel-driver.exe), that one is started as `wine <exe>` and every
// wait is stretched (WineMode). The child gets the test's environment without
// any VANTOREL_SIM_* variable, plus the variables given to Start, so that a
// setting of the caller's shell never changes what a test sees.
//
// Linux only (fork/exec, waitpid, /proc).
//
// Threads: one DriverProcess is used by one thread. The destructor kills a
// process that still runs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace integration {

using Environment = std::vector<std::pair<std::string, std::string>>;

// The environment variable `name`, or `fallback` when it is unset or empty.
std::string EnvOr(const char* name, const std::string& fallback);
// True when the tests run against the Windows build under Wine.
bool WineMode();
// The driver executable the tests start (the .exe in Wine mode).
std::string DriverExecutable();
// The folder that holds the driver and its modules.
std::string DriverFolder();
// File name suffix of the modules: ".so" natively, ".dll" under Wine.
std::string ModuleSuffix();
// Multiplies a time limit of the native run for Wine mode (4x there).
std::uint32_t Scaled(std::uint32_t nativeMs);

// The virtual instrument's settings every integration driver runs with unless
// a case needs otherwise: 20 ms connects, 10 ms samples, 32 px images.
Environment FastInstrument();
// `base` with `name` set to `value` (replacing an earlier entry of that name).
Environment With(Environment base, const std::string& name, const std::string& value);

class DriverProcess {
 public:
  DriverProcess() = default;
  ~DriverProcess();
  DriverProcess(const DriverProcess&) = delete;
  DriverProcess& operator=(const DriverProcess&) = delete;

  // Starts `executable` (empty: DriverExecutable()) with `env` added to the
  // environment, working directory `workDir` (empty: the executable's
  // folder). Returns false, with Failure() saying why, when the process could
  // not be created. Does not wait for the port.
  bool Start(const Environment& env, const std::string& executable = {},
             const std::string& workDir = {});

  // Polls 127.0.0.1:8889 until the driver answers a log request on a
  // connection of its own (then closed; the driver drops it and listens
  // again).
  // False when the process ended first or `timeoutMs` passed.
  bool WaitForPort(std::uint32_t timeoutMs);

  // Start, then WaitForPort with a limit generous enough for a first Wine
  // start. False when either fails, or when another process already accepts
  // connections on the port (the tests need it to themselves).
  bool StartAndWait(const Environment& env);

  // True while the process has not ended.
  bool Running();
  // Waits up to `timeoutMs` for the process to end; its exit code (a process
  // killed by signal s gives -s), or nullopt while it still runs.
  std::optional<int> WaitExit(std::uint32_t timeoutMs);
  // Kills the process with SIGKILL if it still runs and reaps it. Returns the
  // exit code as WaitExit does; nullopt when no process was started.
  std::optional<int> Stop();

  pid_t Pid() const { return pid_; }
  // Everything the driver wrote so far.
  std::string Stdout() const;
  std::string Stderr() const;
  // Why the last Start or WaitForPort failed, with the captured output.
  std::string Failure() const { return failure_; }
  // The sanitizer reports (AddressSanitizer, LeakSanitizer, "runtime error:"
  // lines) among the driver's standard error; empty when there are none.
  std::string SanitizerFindings() const;
  // Stdout and stderr for assertion messages.
  std::string Describe() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
  std::string outputDir_;
  std::string failure_;
};

}  // namespace integration
