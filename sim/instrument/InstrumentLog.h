// InstrumentLog: the virtual instrument's own log. Every line is kept in a
// ring of the most recent 64 KiB (what GetLog returns) and forwarded to the
// driver's LogInterface once one is set; lines written before that are held
// (up to the same size) and forwarded when the sink arrives, so problems met
// at start-up (configuration, a damaged store) still reach the driver.
//
// Each line is "<UTC date> <UTC time> <LEVEL> <text>\n"; the text is made safe
// (valid UTF-8, no control characters, at most kMaxTextBytes bytes), so one
// write is always exactly one line.
//
// Forwarding is off the writer's path: Write only appends to the ring and to
// a queue, and the log's own thread hands the queued lines to the sink within
// kForwardPeriodMs (a sink that writes and flushes standard output costs a
// system call per line, which a short operation such as a cancel would
// otherwise pay while its caller waits). The thread polls while lines keep
// coming and sleeps once the log has been quiet for kStayAwakeMs; only the
// first line after such a pause wakes it. The sink sees every line exactly
// once, in the ring's order. A line is in the ring when Write returns, and at
// the sink at the latest kForwardPeriodMs later (on Windows, the system
// timer's tick, about 16 ms), or when Flush, SetSink or the destructor
// returns; a process killed in between loses it from the sink only.
//
// Threads: every member may be called from any thread at the same time. The
// sink is called without the ring's lock, one call at a time, from the log's
// thread or from a caller of Flush or SetSink; it must not call back into the
// instrument.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace Vexil::Device_Cpp {
class LogInterface;
}

namespace instrument {

enum class LogLevel { kMessage, kWarning, kError };

class InstrumentLog {
 public:
  static constexpr std::size_t kDefaultCapacity = 64 * 1024;
  static constexpr std::size_t kMaxTextBytes = 4096;
  static constexpr int kForwardPeriodMs = 2;
  static constexpr int kStayAwakeMs = 1000;

  explicit InstrumentLog(std::size_t capacity = kDefaultCapacity);
  // Stops the log's thread, then forwards what is still queued: a sink must
  // outlive the log unless it is removed first.
  ~InstrumentLog();
  InstrumentLog(const InstrumentLog&) = delete;
  InstrumentLog& operator=(const InstrumentLog&) = delete;

  // Sets (or with null removes) the sink; borrowed, it must outlive its use.
  // Lines queued for the old sink reach it, and lines held for want of a
  // sink reach the new one, before this returns.
  void SetSink(Vexil::Device_Cpp::LogInterface* sink);

  // Appends one line and queues its text for the sink (Message, Warning or
  // Error by level). Longer texts are cut and end in "...".
  void Write(LogLevel level, std::string_view text);

  // Every line written before the call has reached the sink (if there is
  // one) when this returns.
  void Flush();

  // The most recent lines, whole, at most `capacity` bytes, no terminator.
  std::string Contents() const;

 private:
  using Clock = std::chrono::steady_clock;

  void ForwardLoop();
  // Hands every queued line to the sink. Needs sinkMutex_, not mutex_.
  void ForwardQueued();

  const std::size_t capacity_;

  std::mutex sinkMutex_;  // serialises calls to the sink; taken before mutex_

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;
  std::string ring_;  // may grow to twice the capacity before it is trimmed
  Vexil::Device_Cpp::LogInterface* sink_ = nullptr;
  std::deque<std::pair<LogLevel, std::string>> queued_;  // not yet at the sink
  std::size_t queuedBytes_ = 0;
  Clock::time_point lastWrite_{};
  bool asleep_ = false;  // the log's thread waits for a line, not for its period
  bool stopping_ = false;

  std::thread forwarder_;  // last: starts after everything above exists
};

}  // namespace instrument
