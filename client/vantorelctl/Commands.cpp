#include "client/vantorelctl/Commands.h"

#include <cstdio>
#include <filesystem>
#include <utility>

#include "client/RequestChecks.h"
#include "client/export/ResultFolder.h"
#include "client/export/StagedFolder.h"
#include "client/vantorelctl/DriverLink.h"
#include "client/vantorelctl/JobList.h"
#include "client/vantorelctl/Polling.h"
#include "client/vantorelctl/ProgressLine.h"
#include "client/vantorelctl/Recording.h"
#include "client/vantorelctl/ResultHints.h"
#include "colour/Utf8.h"
#include "platform/Interrupt.h"
#include "platform/Time.h"

namespace vantorel::ctl {
namespace {

// What the hints of a failure know about the command.
HintContext Context(const Session& session, const std::string& job = "") {
  HintContext context;
  context.command = session.command;
  context.job = job;
  context.connectTimeoutMs = session.connectTimeoutMs;
  return context;
}

// Reports a failed request with its next step.
int FailRequest(Session& session, const Status& status, const HintContext& context) {
  return Fail(session, status, NextStep(status, context));
}

// Runs a request that answers a bare result code and reports it.
template <typename Call>
int SimpleCommand(Session& session, Call call, const std::string& doneText,
                  HintContext context = {}) {
  if (context.command.empty()) context = Context(session);
  DriverLink link(session);
  const Status status = link.Request(call);
  if (!status.Ok()) return FailRequest(session, status, context);
  return Succeed(session, nlohmann::json::object(), [&] { session.out << doneText << '\n'; });
}

// The job list, or the failure reported (exit code in `exitCode`).
bool ListOrFail(Session& session, DriverLink& link, const std::string& job, JobList& list,
                int& exitCode) {
  list = ListJobs(link);
  if (list.status.Ok()) return true;
  exitCode = FailRequest(session, list.status, Context(session, job));
  return false;
}

std::string FormatFloat(double value, const char* format) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// " (mean of N samples)" for a combined measurement whose samples were read.
std::string MeanOf(const exporter::SampleStatistics* spread) {
  if (spread == nullptr) return {};
  const std::size_t n = spread->sampleCount;
  return "mean of " + std::to_string(n) + (n == 1 ? " sample" : " samples");
}

nlohmann::json SampleCountJson(const exporter::SampleStatistics* spread) {
  return spread == nullptr ? nlohmann::json(nullptr) : nlohmann::json(spread->sampleCount);
}

// How a fetch's output ends: Succeed, or SucceedPartly when the recording
// failed.
using Finish = std::function<int(nlohmann::json, const std::function<void()>&)>;

int PrintSummary(Session& session, const VantorelMeasurementsFull& data,
                 const exporter::SampleStatistics* spread, nlohmann::json payload,
                 const Finish& finish) {
  nlohmann::json geometries = nlohmann::json::array();
  std::vector<std::vector<std::string>> rows = {{"GEOMETRY", "L*", "a*", "b*", "IMAGE"}};
  for (const auto& [angle, record] : data.measurements) {
    const auto image = data.images.find(angle);
    const std::size_t imageBytes = image == data.images.end() ? 0 : image->second.exr.size();
    rows.push_back({AngleName(angle), FormatFloat(record.lab[0], "%.2f"),
                    FormatFloat(record.lab[1], "%.2f"), FormatFloat(record.lab[2], "%.2f"),
                    imageBytes == 0 ? "-" : std::to_string(imageBytes) + " bytes"});
    geometries.push_back({{"geometry", AngleName(angle)},
                          {"lab", {record.lab[0], record.lab[1], record.lab[2]}},
                          {"spectrum", record.spectrum},
                          {"imageBytes", imageBytes}});
  }
  for (const auto& [angle, image] : data.images) {
    if (data.measurements.count(angle) != 0) continue;
    rows.push_back({AngleName(angle), "-", "-", "-", std::to_string(image.exr.size()) + " bytes"});
    geometries.push_back({{"geometry", AngleName(angle)}, {"imageBytes", image.exr.size()}});
  }
  payload["geometries"] = geometries;
  payload["sampleCount"] = SampleCountJson(spread);
  return finish(std::move(payload), [&] {
    PrintTable(session.out, rows);
    if (spread != nullptr) session.out << MeanOf(spread) << '\n';
  });
}

int WriteFolder(Session& session, const std::string& name, std::optional<std::int32_t> index,
                const VantorelMeasurementsFull& data, const exporter::SampleStatistics* spread,
                const std::string& outDir, bool force, nlohmann::json payload,
                const Finish& finish) {
  exporter::ExportRequest request;
  request.job = name;
  request.result = 0;
  request.sampleIndex = index;
  request.data = &data;
  request.statistics = spread;
  request.force = force;
  const std::optional<std::filesystem::path> dir = exporter::PathFromUtf8(outDir);
  if (!dir) {
    return FailWith(session, kExitWrite,
                    "cannot write the result folder: '" + outDir + "' is not a usable folder name");
  }
  const exporter::ExportResult written = exporter::WriteResultFolder(*dir, request);
  if (!written.ok) {
    return FailWith(session, kExitWrite, "cannot write the result folder: " + written.error);
  }
  for (const std::string& warning : written.warnings) session.err << "warning: " << warning << '\n';
  payload["out"] = outDir;
  payload["files"] = written.files;
  payload["warnings"] = written.warnings;
  payload["sampleCount"] = SampleCountJson(spread);
  return finish(std::move(payload), [&] {
    session.out << "wrote " << Counted(written.files.size(), "file") << " to " << outDir;
    if (spread != nullptr) session.out << " (" << MeanOf(spread) << ")";
    session.out << '\n';
  });
}

}  // namespace

int ConnectUsbCommand(Session& session, std::uint32_t timeoutMs) {
  HintContext context = Context(session);
  context.instrumentTimeoutMs = timeoutMs;
  return SimpleCommand(
      session, [&](Client& client) { return client.ConnectUsb(timeoutMs); },
      "connected to the instrument over USB", context);
}

int ConnectNetCommand(Session& session, const std::string& address, std::uint32_t timeoutMs) {
  const auto parsed = ParseIpv4(address);
  if (!parsed) {
    return FailWith(session, kExitUsage, "not a dotted IPv4 address: " + address,
                    "give the instrument's address as four numbers, such as 192.168.1.20");
  }
  HintContext context = Context(session);
  context.instrumentTimeoutMs = timeoutMs;
  return SimpleCommand(
      session, [&](Client& client) { return client.ConnectNetwork(*parsed, timeoutMs); },
      "connected to the instrument at " + address, context);
}

int JobsCommand(Session& session) {
  DriverLink link(session);
  JobList answer;
  int exitCode = kExitOk;
  if (!ListOrFail(session, link, "", answer, exitCode)) return exitCode;
  nlohmann::json jobs = nlohmann::json::array();
  std::vector<std::vector<std::string>> rows = {{"NAME", "STATE", "SAMPLES"}};
  for (const JobAdvancedInfo& job : answer.jobs) {
    jobs.push_back(
        {{"name", job.name}, {"state", JobStateName(job.state)}, {"sampleCount", job.sampleCount}});
    rows.push_back({job.name, JobStateName(job.state), std::to_string(job.sampleCount)});
  }
  return Succeed(session, {{"jobs", jobs}}, [&] {
    if (answer.jobs.empty()) {
      session.out << "no jobs stored\n";
    } else {
      PrintTable(session.out, rows);
    }
  });
}

int AddJobCommand(Session& session, const std::string& name, const std::string& make,
                  std::int64_t samples, bool replace) {
  if (const auto problem = JobDescriptionProblem(name, make, samples)) {
    return FailWith(session, kExitUsage, *problem);
  }
  DriverLink link(session);
  JobList list;
  int exitCode = kExitOk;
  if (!ListOrFail(session, link, name, list, exitCode)) return exitCode;
  const JobAdvancedInfo* stored = list.Find(name);
  // The driver adds by deleting the job of that name first: only an explicit
  // --replace may give its readings away.
  if (stored != nullptr && !replace) {
    return FailWith(session, kExitDriverCode,
                    "job '" + name + "' is already stored (" + JobSummary(*stored) +
                        "); --replace replaces it and discards its readings");
  }
  if (stored == nullptr && list.jobs.size() >= kMaxStoredJobs) {
    return FailWith(
        session, kExitDriverCode,
        "the instrument holds " + std::to_string(list.jobs.size()) + " jobs, the most it stores",
        "vantorelctl delete-job NAME makes room");
  }
  const auto count = static_cast<std::uint32_t>(samples);
  const Status status =
      link.Request([&](Client& client) { return client.AddJob(name, make, count); });
  if (!status.Ok()) {
    HintContext context = Context(session, name);
    std::string hint = NextStep(status, context);
    if (status.code == 3007) {
      const LogAnswer log = link.Request([](Client& client) { return client.GetLog(); });
      const std::string reason = LastLogReason(log.text, "not stored: ");
      if (!reason.empty())
        hint = "the instrument refused it: " + reason + "; it stores " + JobLimitsText();
    }
    if (stored != nullptr && !status.TransportError()) {
      const JobList after = ListJobs(link);
      if (after.status.Ok() && after.Find(name) == nullptr) {
        hint += (hint.empty() ? "" : "\n") + std::string("the stored job '") + name +
                "' was deleted before the instrument refused the new one";
      }
    }
    return Fail(session, status, hint);
  }
  // The protocol does not carry the make: the lab's database remembers it
  // for the job's records. A database that cannot be used costs a warning.
  if (!make.empty()) {
    LabStore store(session);
    records::RecordStore* db = store.Get();
    const records::StoreStatus remembered =
        db != nullptr ? db->RememberMake(name, make) : records::StoreStatus::Error(store.Problem());
    if (!remembered.ok) {
      session.err << "warning: the make is not remembered for the job's records: "
                  << remembered.message << '\n';
    }
  }
  const std::string done = "job " + name + " stored (" + Counted(count, "sample") +
                           (stored != nullptr ? ", replacing the earlier job)" : ")");
  return Succeed(session, {{"job", name}, {"sampleCount", count}, {"replaced", stored != nullptr}},
                 [&] { session.out << done << '\n'; });
}

int DeleteJobCommand(Session& session, const std::string& name) {
  DriverLink link(session);
  JobList list;
  int exitCode = kExitOk;
  if (!ListOrFail(session, link, name, list, exitCode)) return exitCode;
  // The driver answers 0 to every delete: only the list tells.
  if (list.Find(name) == nullptr) {
    return FailWith(session, kExitDriverCode, "job '" + name + "' is not stored",
                    "vantorelctl jobs lists the stored jobs");
  }
  const Status status = link.Request([&](Client& client) { return client.DeleteJob(name); });
  if (!status.Ok()) return FailRequest(session, status, Context(session, name));
  return Succeed(session, {{"job", name}}, [&] { session.out << "job " << name << " deleted\n"; });
}

int RunCommand(Session& session, const std::string& name, bool wait, std::uint32_t waitTimeoutMs) {
  DriverLink link(session);
  JobList list;
  int exitCode = kExitOk;
  if (!ListOrFail(session, link, name, list, exitCode)) return exitCode;
  const JobAdvancedInfo* job = list.Find(name);
  if (job == nullptr) {
    return FailWith(session, kExitDriverCode, "job '" + name + "' is not stored",
                    "vantorelctl add-job " + ShellArgument(name) +
                        " --samples N stores it; vantorelctl jobs lists the stored jobs");
  }
  if (job->sampleCount <= 0) {
    return FailWith(
        session, kExitDriverCode, "job '" + name + "' has no samples: there is nothing to measure",
        "vantorelctl add-job " + ShellArgument(name) + " --samples N --replace gives it samples");
  }
  const std::string waitAgain = "vantorelctl run " + ShellArgument(name) + " --wait";
  const bool measuring = job->state == kJobMeasuring;
  if (measuring && !wait) {
    return FailWith(session, kExitDriverCode,
                    "job " + name + " is still measuring: " + waitAgain + " waits for it");
  }
  if (!measuring) {
    const Status started = link.Request([&](Client& client) { return client.DoJob(name); });
    if (!started.Ok()) {
      HintContext context = Context(session, name);
      if (const JobAdvancedInfo* other = list.Measuring()) context.measuringJob = other->name;
      return FailRequest(session, started, context);
    }
    if (!wait) {
      return Succeed(session, {{"job", name}, {"state", "measuring"}},
                     [&] { session.out << "job " << name << " started\n"; });
    }
  } else {
    session.err << "job " << name << " is measuring already; waiting for it\n";
  }

  const Platform::InterruptWatch watch;
  const std::function<bool()> interrupted =
      session.interrupted ? session.interrupted : [&watch] { return watch.Interrupted(); };
  JobWait outcome;
  {
    ProgressLine line(session.err, session.terminal);
    outcome = WaitForJob(link, name, waitTimeoutMs, line, interrupted, !measuring);
  }
  const std::string goesOn = "job " + name + " goes on measuring: vantorelctl cancel stops it, " +
                             waitAgain + " waits for it again";
  switch (outcome.end) {
    case WaitEnd::kMeasured:
      break;
    case WaitEnd::kFailed:
      return FailRequest(session, outcome.status, Context(session, name));
    case WaitEnd::kInterrupted:
      return FailWith(session, kExitInterrupted, "interrupted while waiting", goesOn);
    case WaitEnd::kTimedOut:
      return FailWith(session, kExitDriverCode, outcome.problem, goesOn);
    case WaitEnd::kStopped:
      return FailWith(session, kExitDriverCode, outcome.problem,
                      "it was cancelled or replaced: " + waitAgain + " measures it again");
    case WaitEnd::kGone:
      return FailWith(session, kExitDriverCode, outcome.problem);
  }
  return Succeed(
      session, {{"job", name}, {"state", "measured"}, {"elapsedMs", outcome.elapsedMs}}, [&] {
        session.out << "job " << name << " measured in " << Seconds(outcome.elapsedMs) << '\n';
      });
}

int CancelCommand(Session& session) {
  return SimpleCommand(
      session, [](Client& client) { return client.Cancel(); }, "cancelled");
}

int MeasureCommand(Session& session, const std::string& name, std::optional<std::int32_t> index,
                   const std::string& outDir, bool force, const RecordOptions& options) {
  DriverLink link(session);
  FetchedJob fetched;
  if (const int code = FetchJob(session, link, name, index,
                                options.record ? SampleReads::kKeep : SampleReads::kSpread,
                                options.images, fetched);
      code != kExitOk) {
    return code;
  }
  LabStore store(session);
  const Recorded recorded = RecordFetched(session, store, options, fetched);
  nlohmann::json payload = nlohmann::json::object();
  if (options.record) payload["record"] = recorded.id ? nlohmann::json(*recorded.id) : nullptr;
  const Finish finish = [&](nlohmann::json body, const std::function<void()>& human) {
    const auto withLine = [&] {
      human();
      if (recorded.id && !session.json) PrintRecorded(session, "recorded", *recorded.id);
    };
    if (recorded.Failed()) {
      return SucceedPartly(session, std::move(body), withLine, recorded.exitCode, recorded.problem,
                           recorded.hint);
    }
    const int code = Succeed(session, std::move(body), withLine);
    if (recorded.id && session.json) PrintRecorded(session, "recorded", *recorded.id);
    return code;
  };
  const exporter::SampleStatistics* statistics = fetched.spread ? &*fetched.spread : nullptr;
  if (outDir.empty()) return PrintSummary(session, fetched.data, statistics, payload, finish);
  const int written =
      WriteFolder(session, name, index, fetched.data, statistics, outDir, force, payload, finish);
  // A folder that could not be written does not undo the record.
  if (written == kExitWrite && recorded.id) PrintRecorded(session, "recorded", *recorded.id);
  if (written == kExitWrite && recorded.Failed()) {
    return FailWith(session, recorded.exitCode, recorded.problem, recorded.hint);
  }
  return written;
}

int ReportMeasurement(Session& session, const std::string& job, std::optional<std::int32_t> index,
                      const VantorelMeasurementsFull& data,
                      const exporter::SampleStatistics* spread, const std::string& outDir,
                      bool force, nlohmann::json payload) {
  const Finish finish = [&](nlohmann::json body, const std::function<void()>& human) {
    return Succeed(session, std::move(body), human);
  };
  if (outDir.empty()) return PrintSummary(session, data, spread, std::move(payload), finish);
  return WriteFolder(session, job, index, data, spread, outDir, force, std::move(payload), finish);
}

int LogCommand(Session& session) {
  DriverLink link(session);
  const LogAnswer answer = link.Request([](Client& client) { return client.GetLog(); });
  if (!answer.status.Ok()) return FailRequest(session, answer.status, Context(session));
  return Succeed(session, {{"log", answer.text}}, [&] {
    session.out << answer.text;
    if (!answer.text.empty() && answer.text.back() != '\n') session.out << '\n';
  });
}

int MessageCommand(Session& session, const std::string& text) {
  std::u32string converted;
  if (!colour::DecodeUtf8(text, converted)) {
    return FailWith(session, kExitUsage, "the message is not valid UTF-8");
  }
  return SimpleCommand(
      session, [&](Client& client) { return client.SendUserMessage(converted); }, "message sent");
}

int TerminateCommand(Session& session) {
  // Not repeated: the driver ends on the request and sends no answer.
  DriverLink link(session);
  Status status = link.Open();
  if (status.Ok()) status = link.Connection().Terminate();
  if (!status.Ok()) return FailRequest(session, status, Context(session));
  return Succeed(session, nlohmann::json::object(), [&] { session.out << "driver terminated\n"; });
}

}  // namespace vantorel::ctl
