#include "client/vantorelctl/ResultHints.h"

#include <cstdio>

#include "client/RequestChecks.h"
#include "messages/Protocol.h"

namespace vantorel::ctl {
namespace {

std::string SecondsText(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string TransportStep(const Status& status, const HintContext& context) {
  switch (status.failure) {
    case Failure::CannotConnect:
      return "start the driver, or wait until its other client is done (tried for " +
             SecondsText(context.connectTimeoutMs) + "; --connect-timeout-ms waits longer)";
    case Failure::CannotResolve:
      return "check the host name given with --host or VANTOREL_HOST";
    case Failure::TimedOut:
    case Failure::Closed:
    case Failure::SendFailed:
    case Failure::NotConnected:
      return "is the driver still running? Its standard error says why it dropped a client";
    case Failure::UnexpectedType:
    case Failure::Malformed:
    case Failure::TooLarge:
      return "the answer does not follow the driver's protocol: is a Vantorel driver listening "
             "on that port?";
    case Failure::None:
    case Failure::InvalidArgument:
      break;
  }
  return "";
}

std::string Run(const std::string& job) {
  return "vantorelctl run " + ShellArgument(job) + " --wait";
}

}  // namespace

std::string ShellArgument(const std::string& text) {
  bool plain = !text.empty();
  for (const char c : text) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("-_.,:/@+%=").find(c) != std::string_view::npos;
    if (!safe) plain = false;
  }
  if (plain) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string LastLogReason(const std::string& log, const std::string& marker) {
  const std::size_t at = log.rfind(marker);
  if (at == std::string::npos) return "";
  const std::size_t begin = at + marker.size();
  const std::size_t end = log.find('\n', begin);
  return log.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string NextStep(const Status& status, const HintContext& context) {
  if (status.Ok()) return "";
  if (status.TransportError()) return TransportStep(status, context);
  const bool connecting = context.command.rfind("connect", 0) == 0;
  const std::string& job = context.job;
  switch (status.code) {
    case DeviceNotConnectedCode:
      if (connecting) {
        return "the instrument did not answer: is it switched on and connected? --timeout-ms " +
               std::to_string(static_cast<std::uint64_t>(context.instrumentTimeoutMs) * 2) +
               " waits longer";
      }
      return "connect first: vantorelctl connect usb";
    case 3001:
      return "connect first: vantorelctl connect usb";
    case JobNotFoundCode:
    case 3002:
      if (job.empty()) return "vantorelctl jobs lists the stored jobs";
      return "job " + job + " is not stored: vantorelctl jobs lists the stored jobs";
    case InvalidTextCode:
      return "give the job name and make as UTF-8 text";
    case 3003:
      return "give the instrument's own IPv4 address: vantorelctl connect net ADDRESS";
    case 3004:
      if (context.jobState == std::optional<std::uint32_t>(0)) {
        if (context.index) {
          return "sample " + std::to_string(*context.index) + " of job " + job +
                 " has not been measured: " + Run(job);
        }
        return "job " + job + " has not been measured: " + Run(job);
      }
      if (job.empty()) return "vantorelctl jobs shows which jobs are measured";
      return "vantorelctl jobs shows whether job " + job + " is measured; " + Run(job) +
             " measures it again";
    case 3005:
      if (!context.measuringJob.empty()) {
        return "job " + context.measuringJob + " is measuring: " + Run(context.measuringJob) +
               " waits for it, vantorelctl cancel stops it";
      }
      return "vantorelctl cancel stops the job that is measuring";
    case 3006:
      return "an image could not be decoded: vantorelctl log says which";
    case 3007:
      return "the instrument stores " + JobLimitsText() + "; vantorelctl log says which it refused";
    default:
      return "a code of the instrument module: vantorelctl log may say more";
  }
}

}  // namespace vantorel::ctl
