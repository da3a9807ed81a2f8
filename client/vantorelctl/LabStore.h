// LabStore: the lab's record store as the commands of vantorelctl reach it:
// opened on first use from the session's --db (or VANTOREL_DB, or the
// user's default file), with what went wrong in words and an exit code
// (2 for a database URL that must not be used as given, 6 for a database
// that cannot be opened), and the options that say what a command records.
//
// Threads: belongs to the command's thread.
#pragma once

#include <memory>
#include <string>

#include "client/records/RecordStore.h"
#include "client/records/RecordText.h"
#include "client/records/StoreLocation.h"
#include "client/vantorelctl/Report.h"

namespace vantorel::ctl {

// What `measure`, `sample` and `compare` record, and about whom.
struct RecordOptions {
  bool record = true;        // --no-record clears it
  bool images = false;       // --record-images: keep the EXR bytes too
  std::string operatorName;  // --operator; empty: the logged-in user
  std::string instrument;    // --instrument label
  std::string make;          // --make; empty: the make remembered for the job
};

class LabStore {
 public:
  explicit LabStore(const Session& session) : session_(session) {}

  // The store, opened on the first call; null when it cannot be opened,
  // with Problem() and ExitCode() saying why.
  records::RecordStore* Get();
  const std::string& Problem() const { return problem_; }
  int ExitCode() const { return exitCode_; }
  // Reports the failure to open (FailWith with ExitCode()).
  int Fail(Session& session) const;
  // What the messages call the database: its path or URL.
  std::string Where() const;
  // The next step after a failure of this database.
  std::string Hint() const;

 private:
  const Session& session_;
  std::unique_ptr<records::RecordStore> store_;
  std::string problem_;
  std::string where_;
  int exitCode_ = kExitOk;
  bool tried_ = false;
};

// The operator to record: the option's value, else the logged-in user.
std::string OperatorName(const Session& session, const RecordOptions& options);

using records::ParseRecordId;
using records::ParseSince;

}  // namespace vantorel::ctl
