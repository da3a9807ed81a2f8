#include "client/vantorelctl/DriverLink.h"

#include <algorithm>

#include "platform/Time.h"

namespace vantorel::ctl {
namespace {

// Pause between two tries: the driver listens again within a millisecond or
// two of its client leaving.
constexpr std::uint32_t kRetryPauseMs = 20;

}  // namespace

std::uint64_t DriverLink::Now() { return Platform::TickCountMs(); }

Status DriverLink::Open() { return Open(Now()); }

Status DriverLink::Open(std::uint64_t start) {
  const std::uint32_t limit = session_.connectTimeoutMs;
  for (;;) {
    const std::uint64_t elapsed = Now() - start;
    ClientOptions options = client_.Options();
    options.connectTimeoutMs = elapsed >= limit ? 1 : static_cast<std::uint32_t>(limit - elapsed);
    client_.SetOptions(options);
    const Status status = client_.Connect(session_.host, session_.port);
    if (status.Ok()) {
      client_.SetProgressCallback([this](const Progress& progress) {
        if (progress.receiving) answerBegan_ = true;
        if (progress_) progress_(progress);
      });
      return status;
    }
    if (status.failure != Failure::CannotConnect || Now() - start >= limit || (stop_ && stop_())) {
      return status;
    }
    if (!reached_ && !noticeShown_) {
      noticeShown_ = true;
      session_.err << "the driver is not running or is serving another client; retrying\u2026\n"
                   << std::flush;
    }
    Platform::SleepMs(kRetryPauseMs);
  }
}

bool DriverLink::RetryAfter(const Status& status, std::uint64_t start) {
  const bool resetBeforeAnswer =
      !answerBegan_ && (status.failure == Failure::Closed || status.failure == Failure::SendFailed);
  if (!resetBeforeAnswer || Now() - start >= session_.connectTimeoutMs || (stop_ && stop_())) {
    return false;
  }
  Platform::SleepMs(kRetryPauseMs);
  return true;
}

}  // namespace vantorel::ctl
