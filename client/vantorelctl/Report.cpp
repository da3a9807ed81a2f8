#include "client/vantorelctl/Report.h"

#include <algorithm>

#include "messages/VantorelMeasurement.h"

namespace vantorel::ctl {
namespace {

void PrintEnvelope(Session& session, nlohmann::json payload, bool ok) {
  nlohmann::json envelope = {{"command", session.command}, {"ok", ok}};
  for (auto& [key, value] : payload.items()) envelope[key] = value;
  // Job names are arbitrary bytes: replace invalid UTF-8 instead of throwing.
  session.out << envelope.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace

int ExitCodeOf(const Status& status) {
  if (status.Ok()) return kExitOk;
  return status.TransportError() ? kExitTransport : kExitDriverCode;
}

int Succeed(Session& session, nlohmann::json payload, const std::function<void()>& human) {
  if (session.json) {
    if (!payload.contains("result")) payload["result"] = 0;
    PrintEnvelope(session, std::move(payload), true);
  } else if (human) {
    human();
  }
  return kExitOk;
}

int Fail(Session& session, const Status& status, const std::string& hint) {
  if (status.TransportError()) {
    session.err << "error: " << status.text << '\n';
  } else {
    session.err << "error: " << status.code << ": " << status.text << '\n';
  }
  if (!hint.empty()) session.err << hint << '\n';
  if (session.json) {
    nlohmann::json payload = {{"result", status.code},
                              {"transportError", status.TransportError()},
                              {"error", status.text}};
    if (!hint.empty()) payload["hint"] = hint;
    PrintEnvelope(session, std::move(payload), false);
  }
  return ExitCodeOf(status);
}

int FailWith(Session& session, int exitCode, const std::string& text, const std::string& hint) {
  session.err << "error: " << text << '\n';
  if (!hint.empty()) session.err << hint << '\n';
  if (session.json) {
    nlohmann::json payload = {{"error", text}, {"exitCode", exitCode}};
    if (!hint.empty()) payload["hint"] = hint;
    PrintEnvelope(session, std::move(payload), false);
  }
  return exitCode;
}

int SucceedPartly(Session& session, nlohmann::json payload, const std::function<void()>& human,
                  int exitCode, const std::string& text, const std::string& hint) {
  if (session.json) {
    if (!payload.contains("result")) payload["result"] = 0;
    payload["error"] = text;
    payload["exitCode"] = exitCode;
    if (!hint.empty()) payload["hint"] = hint;
    PrintEnvelope(session, std::move(payload), false);
  } else if (human) {
    human();
  }
  session.err << "error: " << text << '\n';
  if (!hint.empty()) session.err << hint << '\n';
  return exitCode;
}

std::string Counted(std::uint64_t count, const std::string& singular, std::string plural) {
  if (plural.empty()) plural = singular + "s";
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - row[i].size() + 2, ' ');
    }
    out << line << '\n';
  }
}

std::string AngleName(SpectrumAngle angle) {
  const char* name = AngleToGeometry(angle);
  return name != nullptr ? name : "angle " + std::to_string(static_cast<std::int32_t>(angle));
}

}  // namespace vantorel::ctl
