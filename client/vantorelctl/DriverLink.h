// DriverLink: how vantorelctl reaches the driver. The driver serves one
// client at a time and stops listening while it does, so a tool that holds
// its connection blocks every other terminal. A DriverLink therefore opens a
// connection for one request and closes it right after, and a connection the
// driver refuses (not running, or serving another client) is tried again
// until the session's --connect-timeout-ms has passed.
//
// The first refusal before the driver has answered anything prints one
// notice on standard error ("the driver is not running or is serving another
// client; retrying…"); refusals between later requests (another terminal
// acting between two polls) pass silently. A connection the driver reset
// before any answer arrived (it was queued while the driver accepted another
// client, and never read) is tried again within the same limit.
//
// Threads: belongs to the thread that runs the command.
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

#include "client/Client.h"
#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {

class DriverLink {
 public:
  explicit DriverLink(Session& session) : session_(session) {}
  DriverLink(const DriverLink&) = delete;
  DriverLink& operator=(const DriverLink&) = delete;

  // Stops the retries early when it returns true (the user interrupted).
  void SetStop(std::function<bool()> stop) { stop_ = std::move(stop); }
  // Passed on to the client for every request (see Client::SetProgressCallback).
  void SetProgressCallback(ProgressCallback callback) { progress_ = std::move(callback); }

  // Opens a connection, retrying refusals as described above. The last
  // failure when the time is up (Failure::CannotConnect, CannotResolve at
  // once for a host name that does not resolve).
  Status Open();
  // The connection Open made; for a request that must not be repeated
  // (terminate).
  Client& Connection() { return client_; }
  void Close() { client_.Close(); }

  // Runs `call(Client&)` (a request returning Status or an answer with a
  // `status`) on a connection of its own and closes it again.
  template <typename Call>
  auto Request(Call call) -> std::invoke_result_t<Call, Client&> {
    using Answer = std::invoke_result_t<Call, Client&>;
    const std::uint64_t start = Now();
    for (;;) {
      Answer answer{};
      const Status opened = Open(start);
      if (!opened.Ok()) {
        StatusOf(answer) = opened;
        return answer;
      }
      answerBegan_ = false;
      answer = call(client_);
      client_.Close();
      if (!RetryAfter(StatusOf(answer), start)) {
        if (!StatusOf(answer).TransportError()) reached_ = true;
        return answer;
      }
    }
  }

 private:
  static Status& StatusOf(Status& status) { return status; }
  template <typename Answer>
  static Status& StatusOf(Answer& answer) {
    return answer.status;
  }
  static std::uint64_t Now();
  Status Open(std::uint64_t start);
  // True when `status` is a reset before any answer and time is left; waits
  // a moment before the next try.
  bool RetryAfter(const Status& status, std::uint64_t start);

  Session& session_;
  Client client_;
  std::function<bool()> stop_;
  ProgressCallback progress_;
  bool answerBegan_ = false;  // the current request's answer header arrived
  bool reached_ = false;      // the driver answered a request of this link
  bool noticeShown_ = false;
};

}  // namespace vantorel::ctl
