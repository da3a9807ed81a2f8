#include "service/JobMeasurement.h"

#include "client/JobStates.h"
#include "client/export/SampleStatistics.h"
#include "client/quality/RecordConversion.h"

namespace vantorel::lab {
namespace {

const JobAdvancedInfo* FindJob(const JobsAnswer& jobs, const std::string& name) {
  for (const JobAdvancedInfo& job : jobs.jobs) {
    if (job.name == name) return &job;
  }
  return nullptr;
}

// The run the measurement belongs to: the newest one, or a new one for a
// job measured where the service did not see it start.
std::optional<records::RunRecord> RunOf(records::RecordStore& store, Instrument& instrument,
                                        const JobAdvancedInfo& job, std::string& problem) {
  const std::string& name = instrument.Address().name;
  records::Found<records::RunRecord> latest = store.LatestRun(name, job.name);
  if (!latest.status.ok) {
    problem = latest.status.message;
    return std::nullopt;
  }
  if (latest.value && latest.value->state == "measuring") {
    store.FinishRun(name, job.name, "measured", std::nullopt);
    latest.value->state = "measured";
  }
  if (latest.value && latest.value->state == "measured") return latest.value;
  records::RunRecord run;
  run.instrument = name;
  run.job = job.name;
  run.samples = job.sampleCount;
  run.state = "measured";
  const records::Found<bool> started = store.StartRun(run, false);
  if (!started.status.ok) {
    problem = started.status.message;
    return std::nullopt;
  }
  return run;
}

}  // namespace

JobMeasurement MeasureJob(Instrument& instrument, const std::string& job,
                          const std::string& operatorName) {
  JobMeasurement out;
  const JobsAnswer jobs = instrument.Jobs();
  if (!jobs.status.Ok()) {
    out.error = FromDriver(jobs.status, "the job list could not be read");
    return out;
  }
  const JobAdvancedInfo* info = FindJob(jobs, job);
  if (info == nullptr) {
    out.error = NotFound("job '" + job + "' is not stored on " + instrument.Address().name);
    return out;
  }
  if (info->state == kJobMeasuring) {
    out.error = Conflict("measuring", "job '" + job +
                                          "' is still measuring; its measured event "
                                          "on /api/events says when it is done");
    return out;
  }
  if (info->state != kJobMeasured || info->sampleCount <= 0) {
    out.error =
        Conflict("not_measured", "job '" + job + "' is " + JobStateName(info->state) +
                                     ", not measured: POST .../jobs/" + job + "/run measures it");
    return out;
  }
  std::string problem;
  StorePool::Lease store = instrument.Stores().Borrow(problem);
  if (!store) {
    out.error = StoreError(problem);
    return out;
  }
  const std::optional<records::RunRecord> run =
      RunOf(*store.operator->(), instrument, *info, problem);
  if (!run) {
    out.error = StoreError("the run could not be read: " + problem);
    return out;
  }
  if (run->record) {
    const records::Found<records::MeasurementRecord> found = store->Measurement(*run->record);
    if (!found.value) {
      out.error = StoreError("record " + std::to_string(*run->record) +
                             " could not be read: " + found.status.message);
      return out;
    }
    out.record = *found.value;
    return out;
  }

  MeasurementAnswer combined;
  const Status fetched = instrument.Request([&](Client& client) {
    client.GetMeasure(job, combined);
    return combined.status;
  });
  if (!fetched.Ok()) {
    out.error = FromDriver(fetched, "the measurement of '" + job + "' could not be fetched");
    return out;
  }
  records::MeasurementRecord& record = out.record;
  exporter::SampleSpread spread;
  MeasurementAnswer sample;
  for (std::int32_t index = 0; index < info->sampleCount; ++index) {
    const Status status = instrument.Request([&](Client& client) {
      client.GetSample(job, index, sample);
      return sample.status;
    });
    if (!status.Ok()) {
      out.error = FromDriver(
          status, "sample " + std::to_string(index) + " of '" + job + "' could not be fetched");
      return out;
    }
    spread.Add(sample.data);
    record.samples.push_back(quality::ReadingFromAnswer(sample.data, index, false));
  }
  record.operatorName = operatorName;
  record.instrument = instrument.Address().name;
  record.host = instrument.Address().host;
  record.port = instrument.Address().port;
  record.job = job;
  const records::Found<std::string> make = store->RememberedMake(job);
  if (make.value) record.make = *make.value;
  record.sampleCount = info->sampleCount;
  record.combined = quality::ReadingFromAnswer(combined.data, -1, true);
  record.spread = quality::SpreadFromStatistics(combined.data, spread.Result());
  const records::Found<std::int64_t> recorded = store->RecordRun(run->id, record);
  if (!recorded.value) {
    out.error = StoreError("the measurement was not recorded: " + recorded.status.message);
    return out;
  }
  if (record.id == 0) {
    // Another service recorded this run meanwhile: its record is the one.
    const records::Found<records::MeasurementRecord> found = store->Measurement(*recorded.value);
    if (found.value) out.record = *found.value;
    out.record.id = *recorded.value;
    return out;
  }
  out.added = true;
  // Answered as read back, so that this answer and every later one for the
  // run are the same to the last digit.
  records::Found<records::MeasurementRecord> stored = store->Measurement(record.id);
  if (stored.value) out.record = std::move(*stored.value);
  instrument.Events().Publish(
      "record", {{"instrument", instrument.Address().name}, {"job", job}, {"record", record.id}});
  return out;
}

}  // namespace vantorel::lab
