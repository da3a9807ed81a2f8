#include "service/Instrument.h"

#include <algorithm>
#include <vector>

#include "client/JobStates.h"

namespace vantorel::lab {
namespace {

// Pauses between two connection attempts: the driver listens again within a
// millisecond or two of its client leaving, so the first tries come soon
// (requests follow each other closely), later ones less often.
constexpr std::uint32_t kFirstRetryPauseMs = 1;
constexpr std::uint32_t kLongestRetryPauseMs = 20;
// A progress event while a job measures, this often.
constexpr std::uint64_t kProgressEveryMs = 1000;
// Earlier measurements the estimate is the median of.
constexpr int kEstimateRuns = 10;
constexpr std::int32_t kNotConnected = 99999;

}  // namespace

Instrument::Instrument(InstrumentAddress address, InstrumentSettings settings, EventHub& events,
                       StorePool& stores)
    : address_(std::move(address)), settings_(settings), events_(events), stores_(stores) {
  ClientOptions options;
  options.answerTimeoutMs = settings_.answerTimeoutMs;
  client_.SetOptions(options);
  view_.address = address_;
  thread_ = std::thread([this] { Loop(); });
}

Instrument::~Instrument() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool Instrument::Serve(const Work& work) {
  auto task = std::make_shared<Task>();
  task->work = &work;
  std::unique_lock lock(mutex_);
  if (stopping_) return false;
  queue_.push_back(task);
  changed_.notify_all();
  if (!changed_.wait_for(lock, std::chrono::milliseconds(settings_.waitMs),
                         [&] { return task->started || stopping_; }) ||
      !task->started) {
    queue_.erase(std::remove(queue_.begin(), queue_.end(), task), queue_.end());
    return false;
  }
  changed_.wait(lock, [&] { return task->done; });
  return true;
}

InstrumentView Instrument::View() const {
  std::lock_guard lock(mutex_);
  return view_;
}

void Instrument::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    const std::uint64_t now = Platform::TickCountMs();
    if (now >= nextPoll_) {
      // Polls come between requests also while users keep the queue full,
      // so that progress never stalls.
      lock.unlock();
      Poll();
      lock.lock();
      continue;
    }
    if (queue_.empty()) {
      changed_.wait_for(lock, std::chrono::milliseconds(nextPoll_ - now),
                        [&] { return stopping_ || !queue_.empty(); });
      continue;
    }
    std::shared_ptr<Task> task = queue_.front();
    queue_.pop_front();
    task->started = true;
    changed_.notify_all();
    lock.unlock();
    (*task->work)(*this);
    lock.lock();
    task->done = true;
    changed_.notify_all();
  }
  // Whoever still waits for a turn gets none.
  queue_.clear();
  changed_.notify_all();
}

Status Instrument::Open() {
  const std::uint64_t start = Platform::TickCountMs();
  std::uint32_t pause = kFirstRetryPauseMs;
  for (;;) {
    const std::uint64_t elapsed = Platform::TickCountMs() - start;
    ClientOptions options = client_.Options();
    options.connectTimeoutMs =
        elapsed >= settings_.connectTimeoutMs
            ? 1
            : static_cast<std::uint32_t>(settings_.connectTimeoutMs - elapsed);
    client_.SetOptions(options);
    Status status = client_.Connect(address_.host, address_.port);
    if (status.Ok() || status.failure != Failure::CannotConnect ||
        Platform::TickCountMs() - start >= settings_.connectTimeoutMs) {
      return status;
    }
    Platform::SleepMs(pause);
    pause = std::min(pause * 2, kLongestRetryPauseMs);
  }
}

void Instrument::NoteReached(const Status& status) {
  const bool reachable = !status.TransportError() || status.failure == Failure::TimedOut;
  bool changed = false;
  bool connected = false;
  {
    std::lock_guard lock(mutex_);
    if (!reachable) view_.connected = false;
    changed = view_.reachable != reachable;
    view_.reachable = reachable;
    connected = view_.connected;
  }
  if (changed) {
    events_.Publish(
        "instrument",
        {{"instrument", address_.name}, {"reachable", reachable}, {"connected", connected}});
  }
}

void Instrument::Poll() {
  Jobs();
  bool measuring = false;
  for (const auto& [name, tracked] : jobs_) measuring |= tracked.state == kJobMeasuring;
  nextPoll_ = Platform::TickCountMs() + (measuring ? settings_.pollMs : settings_.idlePollMs);
}

JobsAnswer Instrument::Jobs() {
  JobsAnswer answer = Request([](Client& client) { return client.GetJobs(); });
  Track(answer);
  return answer;
}

void Instrument::Record(const std::function<void(records::RecordStore&)>& use) {
  std::string problem;
  StorePool::Lease store = stores_.Borrow(problem);
  if (store) use(*store.operator->());
}

std::optional<std::int64_t> Instrument::EstimateMs(int samples) {
  std::optional<std::int64_t> estimate;
  Record([&](records::RecordStore& store) {
    records::Found<std::vector<std::int64_t>> durations =
        store.RunDurations(address_.name, samples, kEstimateRuns);
    if (!durations.value || durations.value->empty()) return;
    std::vector<std::int64_t>& values = *durations.value;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    estimate = *middle;
  });
  return estimate;
}

void Instrument::PublishJob(const std::string& job, const Tracked& tracked, const char* state,
                            std::optional<std::int64_t> elapsedMs) {
  nlohmann::json payload = {
      {"instrument", address_.name}, {"job", job}, {"state", state}, {"samples", tracked.samples}};
  payload["elapsedMs"] = elapsedMs ? nlohmann::json(*elapsedMs) : nlohmann::json(nullptr);
  payload["estimateMs"] =
      tracked.estimateMs ? nlohmann::json(*tracked.estimateMs) : nlohmann::json(nullptr);
  if (tracked.estimateMs && elapsedMs && std::string(state) == "measuring") {
    payload["remainingMs"] = std::max<std::int64_t>(0, *tracked.estimateMs - *elapsedMs);
  } else {
    payload["remainingMs"] = nullptr;
  }
  events_.Publish("job", payload);
}

void Instrument::RunStarted(const std::string& job, int samples) {
  records::RunRecord run;
  run.instrument = address_.name;
  run.job = job;
  run.samples = samples;
  Record([&](records::RecordStore& store) { store.StartRun(run, false); });
  Tracked& tracked = jobs_[job];
  tracked.state = kJobMeasuring;
  tracked.samples = samples;
  tracked.startTick = tracked.lastProgress = Platform::TickCountMs();
  tracked.estimateMs = EstimateMs(samples);
  {
    std::lock_guard lock(mutex_);
    view_.measuring = job;
  }
  PublishJob(job, tracked, "measuring", 0);
  nextPoll_ = std::min(nextPoll_, Platform::TickCountMs() + settings_.pollMs);
}

void Instrument::Track(const JobsAnswer& answer) {
  if (answer.status.TransportError()) return;
  const bool connected = answer.status.code != kNotConnected;
  bool connectionChanged = false;
  {
    std::lock_guard lock(mutex_);
    connectionChanged = view_.polled && view_.connected != connected;
    view_.connected = connected;
    view_.polled = true;
  }
  if (connectionChanged) {
    events_.Publish("instrument",
                    {{"instrument", address_.name}, {"reachable", true}, {"connected", connected}});
  }
  if (!answer.status.Ok()) return;

  // The view first: a client that reads the instruments when an event
  // arrives sees the state the event tells of.
  {
    std::optional<std::string> measuring;
    for (const JobAdvancedInfo& job : answer.jobs) {
      if (job.state == kJobMeasuring) measuring = job.name;
    }
    std::lock_guard lock(mutex_);
    view_.measuring = measuring;
  }
  const std::uint64_t now = Platform::TickCountMs();
  std::map<std::string, Tracked> next;
  for (const JobAdvancedInfo& job : answer.jobs) {
    const auto before = jobs_.find(job.name);
    Tracked tracked = before != jobs_.end() ? before->second : Tracked{};
    const bool known = before != jobs_.end();
    const std::uint32_t was = tracked.state;
    tracked.state = job.state;
    tracked.samples = job.sampleCount;
    const std::optional<std::int64_t> elapsed =
        tracked.startTick != 0 ? std::optional<std::int64_t>(now - tracked.startTick)
                               : std::nullopt;
    if (job.state == kJobMeasuring) {
      if (!known || was != kJobMeasuring) {
        // Started by someone else (vantorelctl, another service): a run of
        // its own, unless another service noticed it first.
        records::RunRecord run;
        run.instrument = address_.name;
        run.job = job.name;
        run.samples = job.sampleCount;
        Record([&](records::RecordStore& store) { store.StartRun(run, true); });
        tracked.startTick = tracked.lastProgress = now;
        tracked.estimateMs = EstimateMs(job.sampleCount);
        PublishJob(job.name, tracked, "measuring", 0);
      } else if (now - tracked.lastProgress >= kProgressEveryMs) {
        tracked.lastProgress = now;
        PublishJob(job.name, tracked, "measuring", elapsed);
      }
    } else if (known && was == kJobMeasuring) {
      const bool measured = job.state == kJobMeasured;
      Record([&](records::RecordStore& store) {
        store.FinishRun(address_.name, job.name, measured ? "measured" : "stopped",
                        measured ? elapsed : std::nullopt);
      });
      PublishJob(job.name, tracked, JobStateName(job.state).c_str(), elapsed);
      tracked.startTick = 0;
    } else if (listed_ && (!known || was != job.state)) {
      PublishJob(job.name, tracked, JobStateName(job.state).c_str(), std::nullopt);
    }
    next[job.name] = tracked;
  }
  for (const auto& [gone, tracked] : jobs_) {
    if (listed_ && next.find(gone) == next.end()) {
      const std::string& name = gone;  // a lambda cannot capture a binding
      if (tracked.state == kJobMeasuring) {
        Record([&](records::RecordStore& store) {
          store.FinishRun(address_.name, name, "stopped", std::nullopt);
        });
      }
      PublishJob(name, tracked, "deleted", std::nullopt);
    }
  }
  jobs_ = std::move(next);
  listed_ = true;
}

}  // namespace vantorel::lab
