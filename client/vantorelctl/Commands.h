// Commands: one function per vantorelctl subcommand. Each connects to the
// driver named in the Session, sends its request(s), prints the outcome
// through Report.h and returns the process exit code.
//
// Threads: each call belongs to the calling thread; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "client/Client.h"
#include "client/vantorelctl/ProgressLine.h"
#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {

int ConnectUsbCommand(Session& session, std::uint32_t timeoutMs);
// `address` is dotted IPv4; anything else is a usage error (exit 2).
int ConnectNetCommand(Session& session, const std::string& address, std::uint32_t timeoutMs);
int JobsCommand(Session& session);
int AddJobCommand(Session& session, const std::string& name, const std::string& make,
                  std::uint32_t samples);
int DeleteJobCommand(Session& session, const std::string& name);
// With `wait`, follows the job until it is measured; waitTimeoutMs 0 waits
// without limit.
int RunCommand(Session& session, const std::string& name, bool wait, std::uint32_t waitTimeoutMs);
int CancelCommand(Session& session);
// The combined measurement (no index) or one sample of a job. With an
// outDir the result folder is written there; without, a summary is printed.
int MeasureCommand(Session& session, const std::string& name, std::optional<std::int32_t> index,
                   const std::string& outDir, bool force);
int LogCommand(Session& session);
// `text` is UTF-8; invalid UTF-8 is a usage error (exit 2).
int MessageCommand(Session& session, const std::string& text);
int TerminateCommand(Session& session);
// Connect usb, add a one-sample job, run it, read its sample, delete it;
// PASS/FAIL per step (see README).
int SelfTestCommand(Session& session);

// Strict dotted IPv4: four decimal numbers 0..255, no spaces, no leading
// signs, at most three digits each.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(const std::string& text);

// Outcome of following a job's state.
struct JobWait {
  Status status;          // a failed job-list request, else Ok
  bool measured = false;  // the job reached "measured"
  std::string problem;    // why not, when status is Ok and measured is false
};

// Polls the job list every 250 ms until `name` is measured, has stopped
// (listed as stored after measuring, or gone), or waitTimeoutMs has passed
// (0: no limit). Shows the elapsed time on `line`.
JobWait WaitForJob(Client& client, const std::string& name, std::uint32_t waitTimeoutMs,
                   ProgressLine& line);

}  // namespace vantorel::ctl
