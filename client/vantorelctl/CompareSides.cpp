#include "client/vantorelctl/CompareSides.h"

#include <filesystem>
#include <string_view>

#include "client/export/StagedFolder.h"
#include "client/quality/CxfReader.h"
#include "client/quality/RecordConversion.h"
#include "client/quality/ResultFolderReader.h"

namespace vantorel::ctl {
namespace {

constexpr std::string_view kJobPrefix = "job:";
constexpr std::string_view kStandardPrefix = "std:";

}  // namespace

struct SideReader::Impl {
  Impl(Session& session, LabStore& store, const RecordOptions& record)
      : session_(session), store_(store), record_(record) {}

  std::optional<Side> Read(const std::string& what, bool isStandard, int& exitCode) {
    if (what.starts_with(kStandardPrefix)) {
      if (!isStandard) {
        exitCode =
            FailWith(session_, kExitUsage, "a standard of the library cannot be the batch: " + what,
                     "give the batch as a result folder, CxF3 file, job:NAME or #ID");
        return std::nullopt;
      }
      return FromLibrary(what.substr(kStandardPrefix.size()), exitCode);
    }
    if (what.starts_with("#")) return FromRecord(what, exitCode);
    quality::SideRead read;
    Side side;
    if (what.starts_with(kJobPrefix)) {
      const std::string job = what.substr(kJobPrefix.size());
      if (job.empty()) {
        exitCode = FailWith(session_, kExitUsage, "job: needs a job name, as in job:NAME");
        return std::nullopt;
      }
      FetchedJob fetched;
      exitCode = FetchJob(session_, link_, job, std::nullopt,
                          record_.record ? SampleReads::kKeep : SampleReads::kNone, record_.images,
                          fetched);
      if (exitCode != kExitOk) return std::nullopt;
      read = quality::SideFromMeasurement(fetched.data, what);
      if (read.ok && read.side.values.empty()) {
        read.ok = false;
        read.error = "job " + job + " has no L*a*b* values (is it measured?)";
      }
      if (read.ok) {
        Recorded recorded = RecordFetched(session_, store_, record_, fetched);
        if (recorded.id)
          PrintRecorded(session_, "measurement of " + what + " recorded", *recorded.id);
        if (recorded.Failed() && !storeFailure_.Failed()) storeFailure_ = std::move(recorded);
        side.record = recorded.id;
      }
    } else {
      // UTF-8 on every platform (a narrow path would be the ANSI code page
      // on Windows).
      std::error_code ec;
      const std::filesystem::path path =
          exporter::PathFromUtf8(what).value_or(std::filesystem::path());
      const auto type = std::filesystem::status(path, ec).type();
      if (type == std::filesystem::file_type::directory) {
        read = quality::ReadResultFolder(path, what);
      } else if (type == std::filesystem::file_type::regular) {
        read = quality::ReadCxfFile(path, what);
      } else {
        read.error = "no such result folder or CxF3 file: " + what +
                     " (a standard of the library is std:NAME, a record #ID)";
      }
    }
    for (const std::string& warning : read.warnings) session_.err << "warning: " << warning << '\n';
    warnings_.insert(warnings_.end(), read.warnings.begin(), read.warnings.end());
    if (!read.ok) {
      exitCode = FailWith(session_, kExitUsage, read.error);
      return std::nullopt;
    }
    side.values = std::move(read.side);
    return side;
  }

  const std::vector<std::string>& Warnings() const { return warnings_; }
  // The first failure to record a job: side, if any.
  const Recorded& StoreFailure() const { return storeFailure_; }

  records::RecordStore* Store(int& exitCode) {
    records::RecordStore* db = store_.Get();
    if (db == nullptr) exitCode = store_.Fail(session_);
    return db;
  }

  std::optional<Side> FromLibrary(const std::string& name, int& exitCode) {
    records::RecordStore* db = Store(exitCode);
    if (db == nullptr) return std::nullopt;
    records::Found<records::StandardRecord> found = db->Standard(name);
    if (!found.status.ok) {
      exitCode = FailWith(session_, kExitStore, "cannot read the library: " + found.status.message,
                          store_.Hint());
      return std::nullopt;
    }
    if (!found.value) {
      exitCode = FailWith(session_, kExitUsage, "no standard named '" + name + "' in the library",
                          "vantorelctl standard list lists the standards; vantorelctl standard "
                          "add NAME SOURCE stores one");
      return std::nullopt;
    }
    Side side;
    side.values = quality::SideFromStandard(*found.value, "std:" + name);
    side.standard = std::move(found.value);
    return side;
  }

  std::optional<Side> FromRecord(const std::string& what, int& exitCode) {
    const std::optional<std::int64_t> id = ParseRecordId(what);
    if (!id) {
      exitCode = FailWith(session_, kExitUsage, "not a record id: " + what,
                          "a record is named by its number, as in #12");
      return std::nullopt;
    }
    records::RecordStore* db = Store(exitCode);
    if (db == nullptr) return std::nullopt;
    records::Found<records::MeasurementRecord> found = db->Measurement(*id);
    if (!found.status.ok) {
      exitCode = FailWith(session_, kExitStore, "cannot read " + what + ": " + found.status.message,
                          store_.Hint());
      return std::nullopt;
    }
    if (!found.value) {
      const bool comparison = db->KindOf(*id).value == records::EntryKind::kComparison;
      exitCode = FailWith(session_, kExitUsage,
                          comparison ? what + " is a comparison, not a measurement"
                                     : "no record " + what + " in " + store_.Where(),
                          "vantorelctl history lists the recorded measurements");
      return std::nullopt;
    }
    Side side;
    side.values = quality::SideFromRecord(*found.value, what);
    side.record = *id;
    return side;
  }

  Session& session_;
  LabStore& store_;
  const RecordOptions& record_;
  DriverLink link_{session_};
  std::vector<std::string> warnings_;
  Recorded storeFailure_;
};

SideReader::SideReader(Session& session, LabStore& store, const RecordOptions& record)
    : impl_(std::make_unique<Impl>(session, store, record)) {}
SideReader::~SideReader() = default;

std::optional<Side> SideReader::Read(const std::string& what, bool isStandard, int& exitCode) {
  return impl_->Read(what, isStandard, exitCode);
}
const std::vector<std::string>& SideReader::Warnings() const { return impl_->Warnings(); }
const Recorded& SideReader::StoreFailure() const { return impl_->StoreFailure(); }

}  // namespace vantorel::ctl
