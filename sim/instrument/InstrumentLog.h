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
// Threads: every member may be called from any thread at the same time. The
// sink is called outside the ring's lock, one call at a time, in the order the
// lines were written; it must not call back into the instrument.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
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

  explicit InstrumentLog(std::size_t capacity = kDefaultCapacity);
  InstrumentLog(const InstrumentLog&) = delete;
  InstrumentLog& operator=(const InstrumentLog&) = delete;

  // Sets (or with null removes) the sink; borrowed, it must outlive its use.
  // Lines held for want of a sink are forwarded before this returns.
  void SetSink(Vexil::Device_Cpp::LogInterface* sink);

  // Appends one line and forwards its text to the sink (Message, Warning or
  // Error by level). Longer texts are cut and end in "...".
  void Write(LogLevel level, std::string_view text);

  // The most recent lines, whole, at most `capacity` bytes, no terminator.
  std::string Contents() const;

 private:
  void Forward(LogLevel level, const std::string& text);

  const std::size_t capacity_;
  mutable std::mutex ringMutex_;
  std::string ring_;  // may grow to twice the capacity before it is trimmed

  std::mutex sinkMutex_;  // serialises calls to the sink; never held with ringMutex_
  Vexil::Device_Cpp::LogInterface* sink_ = nullptr;
  std::deque<std::pair<LogLevel, std::string>> held_;  // waiting for a sink
  std::size_t heldBytes_ = 0;
};

}  // namespace instrument
