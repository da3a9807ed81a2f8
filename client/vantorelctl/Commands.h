// Commands: one function per vantorelctl subcommand. Each reaches the
// driver named in the Session through a DriverLink (one connection per
// request), looks at the job list first where a request could lose data or
// hold the driver, sends its request(s), prints the outcome through Report.h
// (with the next step on failure) and returns the process exit code.
//
// Threads: each call belongs to the calling thread; no shared state.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "client/Client.h"
#include "client/export/SampleStatistics.h"
#include "client/vantorelctl/LabStore.h"
#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {

int ConnectUsbCommand(Session& session, std::uint32_t timeoutMs);
// `address` is dotted IPv4; anything else is a usage error (exit 2).
int ConnectNetCommand(Session& session, const std::string& address, std::uint32_t timeoutMs);
int JobsCommand(Session& session);
// Refuses a job the instrument would not store (exit 2) and, unless
// `replace`, a name that is already stored (exit 1).
int AddJobCommand(Session& session, const std::string& name, const std::string& make,
                  std::int64_t samples, bool replace);
// Refuses a name that is not stored (exit 1).
int DeleteJobCommand(Session& session, const std::string& name);
// With `wait`, follows the job until it is measured; waitTimeoutMs 0 waits
// without limit. A job that is measuring already is waited for, not started
// again. Ctrl-C during the wait exits 130 and leaves the job measuring.
int RunCommand(Session& session, const std::string& name, bool wait, std::uint32_t waitTimeoutMs);
int CancelCommand(Session& session);
// The combined measurement (no index) or one sample of a job, once the job
// list shows it can be fetched (JobList.h: CheckFetchable). With an outDir
// the result folder is written there; without, a summary is printed.
// Records it in the lab's database unless options.record is false (exit 6,
// after the output, when it cannot).
int MeasureCommand(Session& session, const std::string& name, std::optional<std::int32_t> index,
                   const std::string& outDir, bool force, const RecordOptions& options);
// Prints the summary of a measurement (no outDir) or writes its result
// folder, as `measure` does, with `payload` in the JSON object.
int ReportMeasurement(Session& session, const std::string& job, std::optional<std::int32_t> index,
                      const VantorelMeasurementsFull& data,
                      const exporter::SampleStatistics* spread, const std::string& outDir,
                      bool force, nlohmann::json payload);
int LogCommand(Session& session);
// `text` is UTF-8; invalid UTF-8 is a usage error (exit 2).
int MessageCommand(Session& session, const std::string& text);
int TerminateCommand(Session& session);
// Connect usb, add a one-sample job, run it, read its sample, delete it;
// PASS/FAIL per step (see README).
int SelfTestCommand(Session& session);

}  // namespace vantorel::ctl
