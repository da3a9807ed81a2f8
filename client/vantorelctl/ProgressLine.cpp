#include "client/vantorelctl/ProgressLine.h"

#include <cstdio>

#include "platform/Time.h"

namespace vantorel::ctl {

void ProgressLine::Show(const std::string& text, bool force) {
  if (!enabled_) return;
  const std::uint64_t now = Platform::TickCountMs();
  if (!force && shownWidth_ != 0 && now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  std::string line = "\r" + text;
  if (text.size() < shownWidth_) line.append(shownWidth_ - text.size(), ' ');
  shownWidth_ = text.size();
  err_ << line << std::flush;
}

void ProgressLine::Clear() {
  if (!enabled_ || shownWidth_ == 0) return;
  err_ << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
  shownWidth_ = 0;
}

std::string Seconds(std::uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

}  // namespace vantorel::ctl
