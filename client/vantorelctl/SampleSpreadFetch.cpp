#include "client/vantorelctl/SampleSpreadFetch.h"

namespace vantorel::ctl {

namespace {

constexpr std::uint32_t kMeasuredState = 2;

}  // namespace

SpreadFetch FetchSampleSpread(DriverLink& link, const std::string& name, ProgressLine& line,
                              const SampleSink& sink) {
  SpreadFetch out;
  const JobsAnswer jobs = link.Request([](Client& client) { return client.GetJobs(); });
  if (!jobs.status.Ok()) {
    out.problem = "the job list could not be read (" + jobs.status.text + ")";
    return out;
  }
  std::int32_t count = 0;
  bool measured = false;
  for (const JobAdvancedInfo& job : jobs.jobs) {
    if (job.name != name) continue;
    count = job.sampleCount;
    measured = job.state == kMeasuredState;
    break;
  }
  if (!measured || count <= 0) return out;

  exporter::SampleSpread spread;
  MeasurementAnswer answer;
  for (std::int32_t index = 0; index < count; ++index) {
    line.Show("reading sample " + std::to_string(index + 1) + " of " + std::to_string(count) +
              " of " + name);
    // A connection of its own for each sample, so that another terminal
    // gets in between two of them.
    const Status status = link.Request([&](Client& client) {
      client.GetSample(name, index, answer);
      return answer.status;
    });
    if (!status.Ok()) {
      out.problem = "sample " + std::to_string(index) + " could not be read (" + status.text + ")";
      return out;
    }
    spread.Add(answer.data);
    if (sink) sink(index, answer.data);
  }
  line.Clear();
  out.statistics = spread.Result();
  return out;
}

}  // namespace vantorel::ctl
