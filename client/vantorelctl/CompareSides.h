// CompareSides: reading one side of a comparison (or a standard's source)
// from what the user named: a result folder, a CxF3 file, "job:NAME"
// (measured now and recorded like `measure`), "#ID" (a recorded
// measurement) or, for a standard, "std:NAME" (the library's newest
// version of that name).
//
// Threads: belongs to the command's thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/quality/QcSide.h"
#include "client/records/RecordTypes.h"
#include "client/vantorelctl/LabStore.h"
#include "client/vantorelctl/Recording.h"

namespace vantorel::ctl {

// A side and where it came from in the lab's records.
struct Side {
  quality::QcSide values;
  std::optional<records::StandardRecord> standard;  // std:NAME
  std::optional<std::int64_t> record;               // #ID, or job:NAME recorded now
};

class SideReader {
 public:
  SideReader(Session& session, LabStore& store, const RecordOptions& record);
  ~SideReader();
  SideReader(const SideReader&) = delete;
  SideReader& operator=(const SideReader&) = delete;

  // The side `what`; `isStandard` allows std:NAME. On failure reports it
  // and sets `exitCode`.
  std::optional<Side> Read(const std::string& what, bool isStandard, int& exitCode);
  // Warnings of the files read (values skipped).
  const std::vector<std::string>& Warnings() const;
  // The first failure to record a job: side, if any (the side was read).
  const Recorded& StoreFailure() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vantorel::ctl
