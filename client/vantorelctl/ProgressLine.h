// ProgressLine: one self-overwriting status line on standard error, drawn
// only when standard error is a terminal; on anything else it stays silent so
// that logs and pipes get no carriage-return noise.
//
// Threads: belongs to one thread.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace vantorel::ctl {

class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Replaces the line with `text`. At most about ten redraws a second; a
  // `force`d one is always drawn (use it for the final state).
  void Show(const std::string& text, bool force = false);
  // Erases the line, if one was drawn.
  void Clear();

 private:
  std::ostream& err_;
  bool enabled_;
  std::size_t shownWidth_ = 0;
  std::uint64_t lastDrawMs_ = 0;
};

// "3.2 s", "12.3 MB": short forms for progress texts.
std::string Seconds(std::uint64_t ms);
std::string Megabytes(std::uint64_t bytes);

}  // namespace vantorel::ctl
