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

}  // namespace vantorel::ctl
