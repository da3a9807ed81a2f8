#include "sim/instrument/InstrumentLog.h"

#include "device/LogInterface.h"
#include "sim/instrument/TextEncoding.h"

namespace instrument {
namespace {

// Appends `value` as exactly `digits` decimal digits (value < 10^digits).
void AppendDigits(std::string& out, unsigned value, int digits) {
  char text[4];
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(text, static_cast<std::size_t>(digits));
}

// "YYYY-MM-DD HH:MM:SS.mmm" in UTC.
void AppendTimestamp(std::string& out) {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{now - day};
  AppendDigits(out, static_cast<unsigned>(static_cast<int>(date.year()) % 10000), 4);
  out += '-';
  AppendDigits(out, static_cast<unsigned>(date.month()), 2);
  out += '-';
  AppendDigits(out, static_cast<unsigned>(date.day()), 2);
  out += ' ';
  AppendDigits(out, static_cast<unsigned>(time.hours().count()), 2);
  out += ':';
  AppendDigits(out, static_cast<unsigned>(time.minutes().count()), 2);
  out += ':';
  AppendDigits(out, static_cast<unsigned>(time.seconds().count()), 2);
  out += '.';
  AppendDigits(out, static_cast<unsigned>(time.subseconds().count()), 3);
}

const char* LevelWord(LogLevel level) {
  switch (level) {
    case LogLevel::kWarning:
      return "WARNING";
    case LogLevel::kError:
      return "ERROR";
    case LogLevel::kMessage:
      break;
  }
  return "INFO";
}

void SendTo(Vexil::Device_Cpp::LogInterface& sink, LogLevel level, const std::string& text) {
  switch (level) {
    case LogLevel::kMessage:
      sink.Message(text.c_str());
      break;
    case LogLevel::kWarning:
      sink.Warning(text.c_str());
      break;
    case LogLevel::kError:
      sink.Error(text.c_str());
      break;
  }
}

}  // namespace

InstrumentLog::InstrumentLog(std::size_t capacity)
    : capacity_(capacity), forwarder_([this] { ForwardLoop(); }) {}

InstrumentLog::~InstrumentLog() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  forwarder_.join();
  std::lock_guard sinkLock(sinkMutex_);
  ForwardQueued();
}

void InstrumentLog::ForwardQueued() {
  std::deque<std::pair<LogLevel, std::string>> lines;
  Vexil::Device_Cpp::LogInterface* sink = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (sink_ == nullptr || queued_.empty()) return;
    lines.swap(queued_);
    queuedBytes_ = 0;
    sink = sink_;
  }
  for (const auto& [level, text] : lines) SendTo(*sink, level, text);
}

void InstrumentLog::ForwardLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (Clock::now() - lastWrite_ >= std::chrono::milliseconds(kStayAwakeMs) &&
        (queued_.empty() || sink_ == nullptr)) {
      asleep_ = true;
      wake_.wait(lock, [this] { return stopping_ || (sink_ != nullptr && !queued_.empty()); });
      asleep_ = false;
    } else {
      wake_.wait_for(lock, std::chrono::milliseconds(kForwardPeriodMs),
                     [this] { return stopping_; });
    }
    if (stopping_) break;
    lock.unlock();
    {
      std::lock_guard sinkLock(sinkMutex_);
      ForwardQueued();
    }
    lock.lock();
  }
}

void InstrumentLog::SetSink(Vexil::Device_Cpp::LogInterface* sink) {
  std::lock_guard sinkLock(sinkMutex_);
  ForwardQueued();  // to the sink they were written for
  {
    std::lock_guard lock(mutex_);
    sink_ = sink;
  }
  ForwardQueued();  // the lines held for want of a sink
}

void InstrumentLog::Flush() {
  std::lock_guard sinkLock(sinkMutex_);
  ForwardQueued();
}

void InstrumentLog::Write(LogLevel level, std::string_view text) {
  const bool cut = text.size() > kMaxTextBytes;
  std::string safe = SanitizeForLog(cut ? text.substr(0, kMaxTextBytes) : text);
  if (cut) safe += "...";

  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    AppendTimestamp(ring_);
    ring_ += ' ';
    ring_ += LevelWord(level);
    ring_ += ' ';
    ring_ += safe;
    ring_ += '\n';
    if (ring_.size() > 2 * capacity_) {
      // Drop whole lines from the front so that at most capacity_ bytes stay.
      const std::size_t lineStart = ring_.find('\n', ring_.size() - capacity_ - 1);
      ring_.erase(0, lineStart + 1);
    }
    // Queued in the same step as the ring, so the sink sees the ring's order.
    queuedBytes_ += safe.size();
    queued_.emplace_back(level, std::move(safe));
    if (sink_ == nullptr) {
      // Held for a sink that may never come: the newest lines, as the ring.
      while (queuedBytes_ > capacity_ && !queued_.empty()) {
        queuedBytes_ -= queued_.front().second.size();
        queued_.pop_front();
      }
    }
    lastWrite_ = Clock::now();
    wake = asleep_ && sink_ != nullptr;
  }
  if (wake) wake_.notify_one();
}

std::string InstrumentLog::Contents() const {
  std::lock_guard lock(mutex_);
  if (ring_.size() <= capacity_) return ring_;
  // The first whole line that starts within the last capacity_ bytes.
  const std::size_t lineStart = ring_.find('\n', ring_.size() - capacity_ - 1);
  return ring_.substr(lineStart + 1);
}

}  // namespace instrument
