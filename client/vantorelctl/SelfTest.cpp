// selftest: a quick end-to-end health check of a running driver and its
// instrument. Each step prints PASS or FAIL; the first failure skips the rest
// (the job is still deleted when it was added). Like every command, it holds
// the driver only for one request at a time.
#include <functional>
#include <vector>

#include "client/vantorelctl/Commands.h"
#include "client/vantorelctl/DriverLink.h"
#include "client/vantorelctl/Polling.h"
#include "platform/Time.h"

namespace vantorel::ctl {
namespace {

constexpr const char* kJobName = "vantorelctl-selftest";
constexpr std::uint32_t kConnectTimeoutMs = 20000;
constexpr std::uint32_t kRunTimeoutMs = 120000;

struct StepOutcome {
  Status status;       // failed request, if any
  std::string detail;  // shown after PASS/FAIL; the reason when `failed` is set
  bool failed = false;
};

StepOutcome FromStatus(const Status& status) {
  StepOutcome outcome;
  outcome.status = status;
  outcome.failed = !status.Ok();
  if (outcome.failed) {
    outcome.detail =
        status.TransportError() ? status.text : std::to_string(status.code) + ": " + status.text;
  }
  return outcome;
}

}  // namespace

int SelfTestCommand(Session& session) {
  DriverLink link(session);
  nlohmann::json steps = nlohmann::json::array();
  int exitCode = kExitOk;
  bool jobAdded = false;

  auto step = [&](const std::string& name, const std::function<StepOutcome()>& body) {
    if (exitCode != kExitOk) {
      steps.push_back({{"step", name}, {"pass", false}, {"skipped", true}});
      if (!session.json) session.out << "SKIP  " << name << '\n';
      return;
    }
    const std::uint64_t start = Platform::TickCountMs();
    const StepOutcome outcome = body();
    const std::uint64_t elapsed = Platform::TickCountMs() - start;
    steps.push_back({{"step", name},
                     {"pass", !outcome.failed},
                     {"detail", outcome.detail},
                     {"elapsedMs", elapsed}});
    if (!session.json) {
      session.out << (outcome.failed ? "FAIL  " : "PASS  ") << name << " (" << Seconds(elapsed)
                  << ")";
      if (!outcome.detail.empty()) session.out << ": " << outcome.detail;
      session.out << '\n' << std::flush;
    }
    if (outcome.failed) {
      exitCode = outcome.status.Ok() ? kExitDriverCode : ExitCodeOf(outcome.status);
    }
  };

  step("connect to the driver at " + session.host + ":" + std::to_string(session.port), [&] {
    const Status status = link.Open();
    link.Close();
    return FromStatus(status);
  });
  step("connect usb", [&] {
    return FromStatus(
        link.Request([](Client& client) { return client.ConnectUsb(kConnectTimeoutMs); }));
  });
  step("add a 1-sample job", [&] {
    StepOutcome outcome = FromStatus(
        link.Request([](Client& client) { return client.AddJob(kJobName, "selftest", 1); }));
    jobAdded = !outcome.failed;
    return outcome;
  });
  step("run the job", [&] {
    StepOutcome outcome =
        FromStatus(link.Request([](Client& client) { return client.DoJob(kJobName); }));
    if (outcome.failed) return outcome;
    ProgressLine line(session.err, session.terminal && !session.json);
    const JobWait wait = WaitForJob(link, kJobName, kRunTimeoutMs, line, session.interrupted);
    line.Clear();
    if (wait.end == WaitEnd::kFailed) return FromStatus(wait.status);
    if (!wait.measured()) {
      outcome.failed = true;
      outcome.detail = wait.problem;
    }
    return outcome;
  });
  step("read sample 0", [&] {
    const MeasurementAnswer answer =
        link.Request([](Client& client) { return client.GetSample(kJobName, 0); });
    StepOutcome outcome = FromStatus(answer.status);
    if (outcome.failed) return outcome;
    outcome.detail = Counted(answer.data.measurements.size(), "geometry", "geometries") + ", " +
                     Counted(answer.data.images.size(), "image");
    if (answer.data.measurements.empty()) {
      outcome.failed = true;
      outcome.detail = "the sample holds no measurement";
    }
    return outcome;
  });

  // Clean up even after a failure.
  if (jobAdded) {
    const Status deleted = link.Request([](Client& client) { return client.DeleteJob(kJobName); });
    steps.push_back({{"step", "delete the job"}, {"pass", deleted.Ok()}, {"detail", deleted.text}});
    if (!session.json) {
      session.out << (deleted.Ok() ? "PASS  " : "FAIL  ") << "delete the job";
      if (!deleted.Ok()) session.out << ": " << deleted.text;
      session.out << '\n';
    }
    if (!deleted.Ok() && exitCode == kExitOk) exitCode = ExitCodeOf(deleted);
  }

  if (session.json) {
    nlohmann::json envelope = {{"command", session.command},
                               {"ok", exitCode == kExitOk},
                               {"exitCode", exitCode},
                               {"steps", steps}};
    session.out << envelope.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    session.out << (exitCode == kExitOk ? "selftest passed" : "selftest FAILED") << '\n';
  }
  return exitCode;
}

}  // namespace vantorel::ctl
