// Instrument: one driver as the service reaches it. Its own thread serves
// the requests of every user in the order they arrive, one at a time, each
// on a connection of its own that is closed right after (the driver serves
// one client at a time and stops listening meanwhile, so `vantorelctl`
// still gets in between). Between requests the thread polls the job list
// (every `pollMs` while a job measures, every `idlePollMs` otherwise) and
// publishes what changed: job events (stored, measuring with the time so
// far and an estimate of the time left, measured, deleted) and instrument
// events (reachable or not). Runs are kept in the record store, so another
// service on the same database knows them too.
//
// Threads: Serve and View may be called from any thread; the members
// marked "worker thread" only from inside a Work that Serve runs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "client/Client.h"
#include "platform/Time.h"
#include "service/EventHub.h"
#include "service/StorePool.h"

namespace vantorel::lab {

struct InstrumentAddress {
  std::string name;
  std::string host = "127.0.0.1";
  std::uint16_t port = 8889;
};

struct InstrumentSettings {
  std::uint32_t pollMs = 250;       // job list poll while a job measures
  std::uint32_t idlePollMs = 2000;  // otherwise (reachability, runs started elsewhere)
  std::uint32_t waitMs = 30000;     // longest wait for a request's turn
  std::uint32_t connectTimeoutMs = 2000;
  std::uint32_t answerTimeoutMs = 30000;
};

struct InstrumentView {
  InstrumentAddress address;
  bool polled = false;  // the first poll has ended
  bool reachable = false;
  bool connected = false;                // the driver's instrument session
  std::optional<std::string> measuring;  // the job that measures
};

class Instrument {
 public:
  using Work = std::function<void(Instrument&)>;

  Instrument(InstrumentAddress address, InstrumentSettings settings, EventHub& events,
             StorePool& stores);
  ~Instrument();  // ends the thread after the request it serves
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  // Runs `work` on the instrument's thread after every request that arrived
  // before it, and waits until it has run. False, with `work` never run,
  // when its turn did not come within the settings' waitMs.
  bool Serve(const Work& work);
  InstrumentView View() const;
  const InstrumentAddress& Address() const { return address_; }

  // ---- worker thread ----

  // Runs `call(Client&)` (returning Status or an answer with a `status`)
  // on a connection of its own. A refused connection (the driver serves
  // another client) is tried again until connectTimeoutMs has passed.
  template <typename Call>
  auto Request(Call call) -> std::invoke_result_t<Call, Client&> {
    using Answer = std::invoke_result_t<Call, Client&>;
    Answer answer{};
    const Status opened = Open();
    if (!opened.Ok()) {
      StatusOf(answer) = opened;
    } else {
      answer = call(client_);
      client_.Close();
    }
    NoteReached(StatusOf(answer));
    return answer;
  }
  // The job list, with the job events of what changed since the last one.
  JobsAnswer Jobs();
  // A run the service started: recorded as a run, published as measuring.
  void RunStarted(const std::string& job, int samples);
  // The median time of this instrument's last measurements of that many
  // samples, if it measured any.
  std::optional<std::int64_t> EstimateMs(int samples);
  StorePool& Stores() { return stores_; }
  EventHub& Events() { return events_; }

 private:
  struct Task {
    const Work* work = nullptr;
    bool started = false;
    bool done = false;
  };
  struct Tracked {
    std::uint32_t state = 0;
    std::int32_t samples = 0;
    std::uint64_t startTick = 0;     // when it was seen measuring
    std::uint64_t lastProgress = 0;  // the last progress event
    std::optional<std::int64_t> estimateMs;
  };

  static Status& StatusOf(Status& status) { return status; }
  template <typename Answer>
  static Status& StatusOf(Answer& answer) {
    return answer.status;
  }
  Status Open();
  void NoteReached(const Status& status);
  void Loop();
  void Poll();
  void Track(const JobsAnswer& answer);
  void PublishJob(const std::string& job, const Tracked& tracked, const char* state,
                  std::optional<std::int64_t> elapsedMs);
  void Record(const std::function<void(records::RecordStore&)>& use);

  const InstrumentAddress address_;
  const InstrumentSettings settings_;
  EventHub& events_;
  StorePool& stores_;
  Client client_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Task>> queue_;
  bool stopping_ = false;
  InstrumentView view_;

  // Worker thread only.
  std::map<std::string, Tracked> jobs_;
  bool listed_ = false;  // jobs_ holds a job list
  std::uint64_t nextPoll_ = 0;

  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace vantorel::lab
