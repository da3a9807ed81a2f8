#include "sim/instrument/InstrumentLog.h"

#include <chrono>
#include <cstdio>

#include "device/LogInterface.h"
#include "sim/instrument/TextEncoding.h"

namespace instrument {
namespace {

std::string Timestamp() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{now - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%03d",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
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

InstrumentLog::InstrumentLog(std::size_t capacity) : capacity_(capacity) {}

void InstrumentLog::SetSink(Vexil::Device_Cpp::LogInterface* sink) {
  std::lock_guard lock(sinkMutex_);
  sink_ = sink;
  if (sink_ == nullptr) return;
  while (!held_.empty()) {
    const auto& [level, text] = held_.front();
    SendTo(*sink_, level, text);
    held_.pop_front();
  }
  heldBytes_ = 0;
}

void InstrumentLog::Write(LogLevel level, std::string_view text) {
  const bool cut = text.size() > kMaxTextBytes;
  std::string safe = SanitizeForLog(cut ? text.substr(0, kMaxTextBytes) : text);
  if (cut) safe += "...";

  {
    std::lock_guard lock(ringMutex_);
    ring_ += Timestamp();
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
  }
  Forward(level, safe);
}

void InstrumentLog::Forward(LogLevel level, const std::string& text) {
  std::lock_guard lock(sinkMutex_);
  if (sink_ == nullptr) {
    held_.emplace_back(level, text);
    heldBytes_ += text.size();
    while (heldBytes_ > capacity_ && !held_.empty()) {
      heldBytes_ -= held_.front().second.size();
      held_.pop_front();
    }
    return;
  }
  SendTo(*sink_, level, text);
}

std::string InstrumentLog::Contents() const {
  std::lock_guard lock(ringMutex_);
  if (ring_.size() <= capacity_) return ring_;
  // The first whole line that starts within the last capacity_ bytes.
  const std::size_t lineStart = ring_.find('\n', ring_.size() - capacity_ - 1);
  return ring_.substr(lineStart + 1);
}

}  // namespace instrument
