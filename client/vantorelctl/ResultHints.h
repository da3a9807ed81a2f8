// ResultHints: the next step for a failure, in the user's terms: what to run
// so that the command succeeds ("connect first: vantorelctl connect usb"),
// for every result code of the driver and the virtual instrument and every
// kind of transport failure.
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "client/Client.h"

namespace vantorel::ctl {

// What the command knew when the failure came.
struct HintContext {
  std::string command;                    // "connect usb", "run", "measure", ...
  std::string job;                        // the job the command names, if any
  std::optional<std::int32_t> index;      // the sample, for `sample`
  std::optional<std::uint32_t> jobState;  // the job's state when the command looked it up
  std::string measuringJob;               // the job listed as measuring then, if any
  std::uint32_t connectTimeoutMs = 0;     // the session's --connect-timeout-ms
  std::uint32_t instrumentTimeoutMs = 0;  // connect's --timeout-ms
};

// The next step for a failed `status`, or empty when there is none to give.
std::string NextStep(const Status& status, const HintContext& context);

// `text` as one shell argument in a command the user may copy: unchanged
// when it holds only letters, digits and -_.,:/@+%=, else in double quotes
// (with ", \, $ and ` escaped).
std::string ShellArgument(const std::string& text);

// The reason of the last line of the instrument's `log` that contains
// `marker` (the text after it), or empty. The virtual instrument logs why
// it refused a job as "job not stored: <reason>".
std::string LastLogReason(const std::string& log, const std::string& marker);

}  // namespace vantorel::ctl
