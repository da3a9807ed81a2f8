#include "client/vantorelctl/LabStore.h"

#include <cstdio>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace vantorel::ctl {

records::RecordStore* LabStore::Get() {
  if (tried_) return store_.get();
  tried_ = true;
  const auto env = [this](const std::string& key) -> std::optional<std::string> {
    if (!session_.environment) return std::nullopt;
    return session_.environment(key);
  };
  std::string error;
  const std::optional<records::StoreLocation> location =
      records::ParseStoreLocation(session_.db, env, error);
  if (!location) {
    problem_ = error;
    exitCode_ = session_.db.empty() ? kExitStore : kExitUsage;
    return nullptr;
  }
  where_ = location->display;
  records::StoreStatus status;
  store_ = records::OpenStore(*location, status);
  if (!store_) {
    problem_ = "the lab's database " + where_ + " cannot be used: " + status.message;
    exitCode_ = kExitStore;
  }
  return store_.get();
}

int LabStore::Fail(Session& session) const {
  return FailWith(session, exitCode_ == kExitOk ? kExitStore : exitCode_, problem_, Hint());
}

std::string LabStore::Where() const { return where_; }

std::string LabStore::Hint() const {
  if (exitCode_ == kExitUsage) return "vantorelctl --help describes --db";
  return "--db (or VANTOREL_DB) chooses another database; --no-record measures without one";
}

std::string OperatorName(const Session& session, const RecordOptions& options) {
  if (!options.operatorName.empty()) return options.operatorName;
  if (session.environment) {
    for (const char* key : {"USER", "USERNAME", "LOGNAME"}) {
      if (auto value = session.environment(key); value && !value->empty()) return *value;
    }
  }
#ifndef _WIN32
  // A service or a container may run without USER set.
  if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr) {
    return entry->pw_name;
  }
#endif
  return "";
}

std::optional<std::int64_t> ParseRecordId(const std::string& text) {
  std::size_t i = text.starts_with("#") ? 1 : 0;
  if (i >= text.size() || text.size() - i > 15) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (value < 1) return std::nullopt;
  return value;
}

std::optional<std::string> ParseSince(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  char rest = 0;
  const bool dateOnly = text.size() == 10;
  const bool withTime = text.size() == 16 && text[10] == 'T';
  if (!dateOnly && !withTime) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool separator = i == 4 || i == 7 || i == 10 || i == 13;
    if (separator) continue;
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  if (text[4] != '-' || text[7] != '-' || (withTime && text[13] != ':')) return std::nullopt;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d", &year, &month, &day) != 3) return std::nullopt;
  if (withTime && std::sscanf(text.c_str() + 11, "%2d:%2d%c", &hour, &minute, &rest) != 2) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59) {
    return std::nullopt;
  }
  char out[96];
  std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:00Z", year, month, day, hour, minute);
  return std::string(out);
}

}  // namespace vantorel::ctl
