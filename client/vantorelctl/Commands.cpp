#include "client/vantorelctl/Commands.h"

#include <cstdio>
#include <filesystem>
#include <utility>

#include "client/export/ResultFolder.h"
#include "client/export/StagedFolder.h"
#include "client/vantorelctl/SampleSpreadFetch.h"
#include "colour/Utf8.h"
#include "platform/Time.h"

namespace vantorel::ctl {
namespace {

constexpr std::uint32_t kJobPollMs = 250;
// A job listed as stored this long after the run started has not started.
constexpr std::uint64_t kStartGraceMs = 2000;

// Opens the connection named by the session; on failure reports it and
// returns the exit code through `exitCode`.
bool Open(Session& session, Client& client, int& exitCode) {
  ClientOptions options = client.Options();
  options.connectTimeoutMs = session.connectTimeoutMs;
  client.SetOptions(options);
  const Status status = client.Connect(session.host, session.port);
  if (status.Ok()) return true;
  exitCode = Fail(session, status);
  return false;
}

// Runs a request that answers a bare result code and reports it.
template <typename Call>
int SimpleCommand(Session& session, Call call, const std::string& doneText) {
  Client client;
  int exitCode = kExitOk;
  if (!Open(session, client, exitCode)) return exitCode;
  const Status status = call(client);
  if (!status.Ok()) return Fail(session, status);
  return Succeed(session, nlohmann::json::object(), [&] { session.out << doneText << '\n'; });
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

// The samples' spread of a measured job; a failure to read them is a
// warning, since the combined measurement itself is there.
std::optional<exporter::SampleStatistics> ReadSpread(Session& session, Client& client,
                                                     const std::string& name) {
  ProgressLine line(session.err, session.terminal);
  client.SetProgressCallback({});  // it drew on the measurement's line, now gone
  SpreadFetch fetched = FetchSampleSpread(client, name, line);
  line.Clear();
  if (!fetched.problem.empty()) {
    session.err << "warning: " << fetched.problem << "; the result states no spread\n";
  }
  return std::move(fetched.statistics);
}

int PrintSummary(Session& session, const VantorelMeasurementsFull& data,
                 const exporter::SampleStatistics* spread) {
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
  return Succeed(session, {{"geometries", geometries}, {"sampleCount", SampleCountJson(spread)}},
                 [&] {
                   PrintTable(session.out, rows);
                   if (spread != nullptr) session.out << MeanOf(spread) << '\n';
                 });
}

int WriteFolder(Session& session, const std::string& name, std::optional<std::int32_t> index,
                const VantorelMeasurementsFull& data, const exporter::SampleStatistics* spread,
                const std::string& outDir, bool force) {
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
  return Succeed(session,
                 {{"out", outDir},
                  {"files", written.files},
                  {"warnings", written.warnings},
                  {"sampleCount", SampleCountJson(spread)}},
                 [&] {
                   session.out << "wrote " << written.files.size() << " files to " << outDir;
                   if (spread != nullptr) session.out << " (" << MeanOf(spread) << ")";
                   session.out << '\n';
                 });
}

}  // namespace

std::optional<std::array<std::uint8_t, 4>> ParseIpv4(const std::string& text) {
  std::array<std::uint8_t, 4> address{};
  std::size_t position = 0;
  for (std::size_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (position >= text.size() || text[position] != '.') return std::nullopt;
      ++position;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
      if (++digits > 3) return std::nullopt;
      value = value * 10 + static_cast<unsigned>(text[position] - '0');
      ++position;
    }
    if (digits == 0 || value > 255) return std::nullopt;
    address[part] = static_cast<std::uint8_t>(value);
  }
  if (position != text.size()) return std::nullopt;
  return address;
}

JobWait WaitForJob(Client& client, const std::string& name, std::uint32_t waitTimeoutMs,
                   ProgressLine& line) {
  JobWait wait;
  const std::uint64_t start = Platform::TickCountMs();
  bool seenMeasuring = false;
  for (;;) {
    const JobsAnswer jobs = client.GetJobs();
    if (!jobs.status.Ok()) {
      wait.status = jobs.status;
      return wait;
    }
    const JobAdvancedInfo* job = nullptr;
    for (const JobAdvancedInfo& entry : jobs.jobs) {
      if (entry.name == name) {
        job = &entry;
        break;
      }
    }
    const std::uint64_t elapsed = Platform::TickCountMs() - start;
    if (job == nullptr) {
      wait.problem = "job " + name + " is no longer listed";
      return wait;
    }
    if (job->state == 2) {
      line.Show("measuring " + name + ": done after " + Seconds(elapsed), true);
      wait.measured = true;
      return wait;
    }
    if (job->state == 1) {
      seenMeasuring = true;
    } else if (seenMeasuring || elapsed >= kStartGraceMs) {
      wait.problem =
          "job " + name + " stopped before it was measured (" + JobStateName(job->state) + ")";
      return wait;
    }
    if (waitTimeoutMs != 0 && elapsed >= waitTimeoutMs) {
      wait.problem = "job " + name + " not measured within " + Seconds(waitTimeoutMs);
      return wait;
    }
    line.Show("measuring " + name + ": " + Seconds(elapsed));
    Platform::SleepMs(kJobPollMs);
  }
}

int ConnectUsbCommand(Session& session, std::uint32_t timeoutMs) {
  return SimpleCommand(
      session, [&](Client& client) { return client.ConnectUsb(timeoutMs); },
      "connected to the instrument over USB");
}

int ConnectNetCommand(Session& session, const std::string& address, std::uint32_t timeoutMs) {
  const auto parsed = ParseIpv4(address);
  if (!parsed) {
    return FailWith(session, kExitUsage, "not a dotted IPv4 address: " + address);
  }
  return SimpleCommand(
      session, [&](Client& client) { return client.ConnectNetwork(*parsed, timeoutMs); },
      "connected to the instrument at " + address);
}

int JobsCommand(Session& session) {
  Client client;
  int exitCode = kExitOk;
  if (!Open(session, client, exitCode)) return exitCode;
  const JobsAnswer answer = client.GetJobs();
  if (!answer.status.Ok()) return Fail(session, answer.status);
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
                  std::uint32_t samples) {
  return SimpleCommand(
      session, [&](Client& client) { return client.AddJob(name, make, samples); },
      "job " + name + " stored (" + std::to_string(samples) + " samples)");
}

int DeleteJobCommand(Session& session, const std::string& name) {
  return SimpleCommand(
      session, [&](Client& client) { return client.DeleteJob(name); }, "job " + name + " deleted");
}

int RunCommand(Session& session, const std::string& name, bool wait, std::uint32_t waitTimeoutMs) {
  Client client;
  int exitCode = kExitOk;
  if (!Open(session, client, exitCode)) return exitCode;
  const Status started = client.DoJob(name);
  if (!started.Ok()) return Fail(session, started);
  if (!wait) {
    return Succeed(session, {{"job", name}, {"state", "measuring"}},
                   [&] { session.out << "job " << name << " started\n"; });
  }
  const std::uint64_t start = Platform::TickCountMs();
  JobWait outcome;
  {
    ProgressLine line(session.err, session.terminal);
    outcome = WaitForJob(client, name, waitTimeoutMs, line);
  }
  if (!outcome.status.Ok()) return Fail(session, outcome.status);
  if (!outcome.measured) return FailWith(session, kExitDriverCode, outcome.problem);
  const std::uint64_t elapsed = Platform::TickCountMs() - start;
  return Succeed(session, {{"job", name}, {"state", "measured"}, {"elapsedMs", elapsed}}, [&] {
    session.out << "job " << name << " measured in " << Seconds(elapsed) << '\n';
  });
}

int CancelCommand(Session& session) {
  return SimpleCommand(
      session, [](Client& client) { return client.Cancel(); }, "cancelled");
}

int MeasureCommand(Session& session, const std::string& name, std::optional<std::int32_t> index,
                   const std::string& outDir, bool force) {
  Client client;
  int exitCode = kExitOk;
  if (!Open(session, client, exitCode)) return exitCode;
  MeasurementAnswer answer;
  {
    ProgressLine line(session.err, session.terminal);
    const std::string what = index ? name + " sample " + std::to_string(*index) : name;
    client.SetProgressCallback([&](const Progress& progress) {
      if (!progress.receiving) {
        line.Show("waiting for " + what + ": " + Seconds(progress.elapsedMs));
      } else {
        line.Show("receiving " + what + ": " + Megabytes(progress.received) + " of " +
                      Megabytes(progress.total),
                  progress.received == progress.total);
      }
    });
    answer = index ? client.GetSample(name, *index) : client.GetMeasure(name);
  }
  if (!answer.status.Ok()) return Fail(session, answer.status);
  std::optional<exporter::SampleStatistics> spread;
  if (!index) spread = ReadSpread(session, client, name);
  const exporter::SampleStatistics* statistics = spread ? &*spread : nullptr;
  if (outDir.empty()) return PrintSummary(session, answer.data, statistics);
  return WriteFolder(session, name, index, answer.data, statistics, outDir, force);
}

int LogCommand(Session& session) {
  Client client;
  int exitCode = kExitOk;
  if (!Open(session, client, exitCode)) return exitCode;
  const LogAnswer answer = client.GetLog();
  if (!answer.status.Ok()) return Fail(session, answer.status);
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
  return SimpleCommand(
      session, [](Client& client) { return client.Terminate(); }, "driver terminated");
}

}  // namespace vantorel::ctl
