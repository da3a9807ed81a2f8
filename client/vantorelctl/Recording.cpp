#include "client/vantorelctl/Recording.h"

#include "client/quality/RecordConversion.h"
#include "client/vantorelctl/JobList.h"
#include "client/vantorelctl/ProgressLine.h"
#include "client/vantorelctl/ResultHints.h"
#include "client/vantorelctl/SampleSpreadFetch.h"

namespace vantorel::ctl {

int FetchJob(Session& session, DriverLink& link, const std::string& name,
             std::optional<std::int32_t> index, SampleReads samples, bool withImages,
             FetchedJob& out) {
  out.job = name;
  out.index = index;
  JobAdvancedInfo job;
  int exitCode = kExitOk;
  if (!CheckFetchable(session, link, name, index, job, exitCode)) return exitCode;
  MeasurementAnswer answer;
  {
    ProgressLine line(session.err, session.terminal);
    const std::string what = index ? name + " sample " + std::to_string(*index) : name;
    link.SetProgressCallback([&](const Progress& progress) {
      if (!progress.receiving) {
        line.Show("waiting for " + what + ": " + Seconds(progress.elapsedMs));
      } else {
        line.Show("receiving " + what + ": " + Megabytes(progress.received) + " of " +
                      Megabytes(progress.total),
                  progress.received == progress.total);
      }
    });
    answer = link.Request([&](Client& client) {
      return index ? client.GetSample(name, *index) : client.GetMeasure(name);
    });
    link.SetProgressCallback({});
  }
  if (!answer.status.Ok()) {
    HintContext context;
    context.command = session.command;
    context.job = name;
    context.connectTimeoutMs = session.connectTimeoutMs;
    context.index = index;
    context.jobState = job.state;
    return Fail(session, answer.status, NextStep(answer.status, context));
  }
  out.data = std::move(answer.data);
  if (index || samples == SampleReads::kNone) return kExitOk;

  ProgressLine line(session.err, session.terminal);
  const SampleSink sink = [&](std::int32_t sample, const VantorelMeasurementsFull& data) {
    out.samples.push_back(quality::ReadingFromAnswer(data, sample, withImages));
  };
  SpreadFetch fetched =
      FetchSampleSpread(link, name, line, samples == SampleReads::kKeep ? sink : SampleSink{});
  line.Clear();
  if (!fetched.problem.empty()) {
    session.err << "warning: " << fetched.problem << "; the result states no spread\n";
  }
  out.spread = std::move(fetched.statistics);
  if (!out.spread) out.samples.clear();
  return kExitOk;
}

Recorded RecordFetched(const Session& session, LabStore& store, const RecordOptions& options,
                       const FetchedJob& fetched) {
  Recorded recorded;
  if (!options.record) return recorded;
  records::RecordStore* db = store.Get();
  if (db == nullptr) {
    recorded.problem = "the measurement was not recorded: " + store.Problem();
    recorded.hint = store.Hint();
    recorded.exitCode = store.ExitCode();
    return recorded;
  }
  records::MeasurementRecord record;
  record.operatorName = OperatorName(session, options);
  record.instrument = options.instrument;
  record.host = session.host;
  record.port = session.port;
  record.job = fetched.job;
  record.make = options.make;
  if (record.make.empty()) {
    const records::Found<std::string> remembered = db->RememberedMake(fetched.job);
    if (remembered.value) record.make = *remembered.value;
  }
  record.sampleIndex = fetched.index;
  record.sampleCount = fetched.index    ? 1
                       : fetched.spread ? static_cast<int>(fetched.spread->sampleCount)
                                        : 0;
  record.combined =
      quality::ReadingFromAnswer(fetched.data, fetched.index ? *fetched.index : -1, options.images);
  if (fetched.index) record.combined.index = -1;
  record.samples = fetched.samples;
  if (fetched.spread) record.spread = quality::SpreadFromStatistics(fetched.data, *fetched.spread);
  const records::StoreStatus status = db->AddMeasurement(record);
  if (!status.ok) {
    recorded.problem =
        "the measurement was not recorded in " + store.Where() + ": " + status.message;
    recorded.hint = store.Hint();
    recorded.exitCode = kExitStore;
    return recorded;
  }
  recorded.id = record.id;
  return recorded;
}

void PrintRecorded(Session& session, const std::string& what, std::int64_t id) {
  (session.json ? session.err : session.out) << what << " as #" << id << '\n';
}

}  // namespace vantorel::ctl
