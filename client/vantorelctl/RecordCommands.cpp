#include "client/vantorelctl/RecordCommands.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "client/export/StagedFolder.h"
#include "client/quality/ComparisonRecord.h"
#include "client/quality/FileText.h"
#include "client/quality/QcReport.h"
#include "client/quality/RecordConversion.h"
#include "client/quality/RecordJson.h"
#include "client/quality/ReportPage.h"
#include "client/quality/TrendFiles.h"
#include "client/vantorelctl/Commands.h"
#include "client/vantorelctl/CompareCommand.h"
#include "client/vantorelctl/CompareSides.h"

namespace vantorel::ctl {
namespace {

std::string Fixed(double value, const char* format = "%.2f") {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The store, or the failure reported in `exitCode`.
records::RecordStore* OpenOrFail(Session& session, LabStore& store, int& exitCode) {
  records::RecordStore* db = store.Get();
  if (db == nullptr) exitCode = store.Fail(session);
  return db;
}

// A failed read of the database: exit 6.
int ReadFailed(Session& session, const LabStore& store, const records::StoreStatus& status) {
  return FailWith(session, kExitStore, "cannot read " + store.Where() + ": " + status.message,
                  store.Hint());
}

std::string StandardName(const std::string& text) {
  return text.starts_with("std:") ? text.substr(4) : text;
}

std::string DefaultTolerance(const records::StandardRecord& standard) {
  for (const records::GeometryTolerance& entry : standard.tolerances) {
    if (entry.geometry == "*") return Fixed(entry.tolerance);
  }
  return Fixed(quality::kDefaultTolerance);
}

// Writes `text` to `path` through a temporary file beside it, so that the
// file is either the old one or complete.
bool WriteFileAtomically(const std::string& pathUtf8, const std::string& text, bool force,
                         std::string& error) {
  const std::optional<std::filesystem::path> path = exporter::PathFromUtf8(pathUtf8);
  if (!path) {
    error = "'" + pathUtf8 + "' is not a usable file name";
    return false;
  }
  std::error_code ec;
  if (std::filesystem::exists(*path, ec) && !force) {
    error = pathUtf8 + " exists already (--force replaces it)";
    return false;
  }
  std::filesystem::path temporary = *path;
  temporary += ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::filesystem::remove(temporary, ec);
      error = "cannot write " + pathUtf8;
      return false;
    }
  }
  std::filesystem::rename(temporary, *path, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    error = "cannot write " + pathUtf8 + ": " + ec.message();
    return false;
  }
  return true;
}

// A record id given on the command line, or the usage failure reported.
std::optional<std::int64_t> IdOrFail(Session& session, const std::string& text, int& exitCode) {
  const std::optional<std::int64_t> id = ParseRecordId(text);
  if (!id) {
    exitCode = FailWith(session, kExitUsage, "not a record id: " + text,
                        "records are named by number, as in '#12'; vantorelctl history lists them");
  }
  return id;
}

int ShowComparison(Session& session, const records::ComparisonRecord& record) {
  const std::optional<quality::Comparison> comparison = quality::ComparisonFromRecord(record);
  nlohmann::json payload = {{"kind", "comparison"},
                            {"comparison", record.id},
                            {"time", record.time},
                            {"operator", record.operatorName},
                            {"pass", record.passed}};
  payload["standardName"] = record.standardName;
  payload["standardVersion"] =
      record.standardVersion ? nlohmann::json(*record.standardVersion) : nlohmann::json(nullptr);
  payload["batchRecord"] =
      record.batchRecord ? nlohmann::json(*record.batchRecord) : nlohmann::json(nullptr);
  if (comparison) {
    const nlohmann::json facts = quality::ComparisonJson(*comparison);
    for (const auto& [key, value] : facts.items()) payload[key] = value;
  }
  return Succeed(session, std::move(payload), [&] {
    session.out << "comparison #" << record.id << " of " << record.time
                << (record.operatorName.empty() ? "" : " by " + record.operatorName) << '\n';
    if (comparison) {
      PrintComparison(session, *comparison);
    } else {
      session.out << "verdict   " << (record.passed ? "PASS" : "FAIL") << " (formula "
                  << record.formula << ")\n";
    }
  });
}

}  // namespace

int HistoryCommand(Session& session, const HistoryOptions& options) {
  records::HistoryQuery query;
  if (!options.job.empty()) query.job = options.job;
  if (!options.standard.empty()) query.standard = StandardName(options.standard);
  if (!options.since.empty()) {
    query.since = ParseSince(options.since);
    if (!query.since) {
      return FailWith(session, kExitUsage, "--since " + options.since + " is not a date",
                      "give YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC), as in 2026-12-01T08:00");
    }
  }
  query.limit = options.limit;
  LabStore store(session);
  int exitCode = kExitOk;
  records::RecordStore* db = OpenOrFail(session, store, exitCode);
  if (db == nullptr) return exitCode;
  const records::Found<std::vector<records::HistoryEntry>> found = db->History(query);
  if (!found.status.ok) return ReadFailed(session, store, found.status);
  nlohmann::json list = nlohmann::json::array();
  std::vector<std::vector<std::string>> rows = {
      {"ID", "TIME (UTC)", "OPERATOR", "INSTRUMENT", "JOB", "MAKE", "SAMPLES", "COMPARISONS"}};
  for (const records::HistoryEntry& entry : *found.value) {
    std::string verdicts;
    for (const records::ComparisonVerdict& verdict : entry.comparisons) {
      verdicts += (verdicts.empty() ? "" : ", ") + std::string("#") + std::to_string(verdict.id) +
                  " " + verdict.standard +
                  (verdict.version ? " v" + std::to_string(*verdict.version) : "") +
                  (verdict.passed ? " pass" : " FAIL");
    }
    list.push_back(quality::HistoryJson(entry));
    rows.push_back({"#" + std::to_string(entry.id), entry.time, entry.operatorName,
                    entry.instrument, entry.job, entry.make, std::to_string(entry.samples),
                    verdicts.empty() ? "-" : verdicts});
  }
  return Succeed(session, {{"records", list}}, [&] {
    if (found.value->empty()) {
      session.out << "no measurements recorded"
                  << (query.job || query.standard || query.since ? " that match" : "") << " in "
                  << store.Where() << '\n';
    } else {
      PrintTable(session.out, rows);
    }
  });
}

int ShowCommand(Session& session, const std::string& text, const std::string& outDir, bool force) {
  int exitCode = kExitOk;
  const std::optional<std::int64_t> id = IdOrFail(session, text, exitCode);
  if (!id) return exitCode;
  LabStore store(session);
  records::RecordStore* db = OpenOrFail(session, store, exitCode);
  if (db == nullptr) return exitCode;
  const records::Found<records::EntryKind> kind = db->KindOf(*id);
  if (!kind.status.ok) return ReadFailed(session, store, kind.status);
  if (kind.value == records::EntryKind::kComparison) {
    const records::Found<records::ComparisonRecord> found = db->Comparison(*id);
    if (!found.status.ok || !found.value) return ReadFailed(session, store, found.status);
    if (!outDir.empty()) {
      return FailWith(
          session, kExitUsage, "#" + std::to_string(*id) + " is a comparison",
          "vantorelctl report '#" + std::to_string(*id) + "' --out FILE.html writes its report");
    }
    return ShowComparison(session, *found.value);
  }
  const records::Found<records::MeasurementRecord> found =
      kind.value == records::EntryKind::kMeasurement ? db->Measurement(*id)
                                                     : records::Found<records::MeasurementRecord>{};
  if (!found.status.ok) return ReadFailed(session, store, found.status);
  if (!found.value) {
    return FailWith(session, kExitUsage,
                    "no record #" + std::to_string(*id) + " in " + store.Where(),
                    "vantorelctl history lists the recorded measurements");
  }
  const records::MeasurementRecord& record = *found.value;
  const VantorelMeasurementsFull data = quality::AnswerFromReading(record.combined);
  const std::optional<exporter::SampleStatistics> spread = quality::StatisticsFromRecord(record);
  if (!session.json) {
    session.out << "measurement #" << record.id << " of " << record.job << " ("
                << (record.make.empty() ? "no make" : record.make) << "), " << record.time;
    if (!record.operatorName.empty()) session.out << " by " << record.operatorName;
    if (!record.instrument.empty()) session.out << " on " << record.instrument;
    session.out << " (" << record.host << ":" << record.port << ")";
    if (record.sampleIndex) session.out << ", sample " << *record.sampleIndex;
    session.out << '\n';
  }
  nlohmann::json payload = {{"kind", "measurement"},
                            {"record", record.id},
                            {"time", record.time},
                            {"operator", record.operatorName},
                            {"instrument", record.instrument},
                            {"host", record.host},
                            {"port", record.port},
                            {"job", record.job},
                            {"make", record.make},
                            {"samples", record.sampleCount}};
  return ReportMeasurement(
      session, record.job,
      record.sampleIndex ? std::optional<std::int32_t>(*record.sampleIndex) : std::nullopt, data,
      spread ? &*spread : nullptr, outDir, force, std::move(payload));
}

int StandardAddCommand(Session& session, const StandardAddOptions& options) {
  if (options.name.empty()) return FailWith(session, kExitUsage, "a standard needs a name");
  if (!colour::ParseFormula(options.formula)) {
    return FailWith(session, kExitUsage,
                    "unknown formula " + options.formula + " (de2000, de94, cmc or de76)");
  }
  quality::Tolerances tolerances;
  if (options.tolerance) tolerances.fallback = *options.tolerance;
  if (!options.toleranceFile.empty()) {
    std::string text, error;
    if (!quality::ReadFileText(options.toleranceFile, text, error, 1u << 20) ||
        !quality::ParseTolerances(text, options.toleranceFile, tolerances, error)) {
      return FailWith(session, kExitUsage, error);
    }
  }
  LabStore store(session);
  int exitCode = kExitOk;
  records::RecordStore* db = OpenOrFail(session, store, exitCode);
  if (db == nullptr) return exitCode;
  const records::Found<records::StandardRecord> existing = db->Standard(options.name);
  if (!existing.status.ok) return ReadFailed(session, store, existing.status);
  if (existing.value && !options.replace) {
    return FailWith(session, kExitUsage,
                    "the library has a standard named '" + options.name + "' already (version " +
                        std::to_string(existing.value->version) + ")",
                    "--replace stores a new version and keeps the old one for the records that "
                    "name it");
  }
  if (options.source.starts_with("std:")) {
    return FailWith(session, kExitUsage,
                    "a standard is made from a measurement, not from " + options.source,
                    "give a result folder, a CxF3 file, job:NAME or #ID");
  }
  SideReader reader(session, store, options.record);
  const std::optional<Side> side = reader.Read(options.source, false, exitCode);
  if (!side) return exitCode;
  if (side->values.values.empty()) {
    return FailWith(session, kExitUsage, options.source + " holds no L*a*b* per geometry");
  }
  records::StandardRecord standard;
  standard.name = options.name;
  standard.source = options.source;
  standard.sourceRecord = side->record;
  standard.formula = options.formula;
  standard.note = options.note;
  standard.tolerances = quality::ToleranceList(tolerances);
  for (const quality::GeometryLab& value : side->values.values) {
    standard.values.push_back({value.geometry, {value.lab.l, value.lab.a, value.lab.b}});
  }
  const records::StoreStatus status = db->AddStandard(standard);
  if (!status.ok) {
    return FailWith(session, kExitStore,
                    "the standard was not stored in " + store.Where() + ": " + status.message,
                    store.Hint());
  }
  return Succeed(session, {{"standard", quality::StandardJson(standard, false)}}, [&] {
    session.out << "standard " << standard.name << " stored as version " << standard.version << " ("
                << Counted(standard.values.size(), "geometry", "geometries") << ", "
                << colour::FormulaLabel(*colour::ParseFormula(standard.formula)) << ", tolerance "
                << DefaultTolerance(standard)
                << (tolerances.perGeometry.empty() ? "" : " and per geometry") << ")\n";
  });
}

int StandardListCommand(Session& session) {
  LabStore store(session);
  int exitCode = kExitOk;
  records::RecordStore* db = OpenOrFail(session, store, exitCode);
  if (db == nullptr) return exitCode;
  const records::Found<std::vector<records::StandardRecord>> found = db->Standards();
  if (!found.status.ok) return ReadFailed(session, store, found.status);
  nlohmann::json list = nlohmann::json::array();
  std::vector<std::vector<std::string>> rows = {
      {"NAME", "VERSION", "STORED (UTC)", "GEOMETRIES", "FORMULA", "TOLERANCE", "NOTE"}};
  for (const records::StandardRecord& standard : *found.value) {
    list.push_back(quality::StandardJson(standard, false));
    rows.push_back({standard.name, std::to_string(standard.version), standard.time,
                    std::to_string(standard.values.size()), standard.formula,
                    DefaultTolerance(standard) + (standard.tolerances.size() > 1 ? " +" : ""),
                    standard.note});
  }
  return Succeed(session, {{"standards", list}}, [&] {
    if (found.value->empty()) {
      session.out << "no standards in the library (vantorelctl standard add NAME SOURCE stores "
                     "one)\n";
    } else {
      PrintTable(session.out, rows);
    }
  });
}

int StandardShowCommand(Session& session, const std::string& text) {
  const std::string name = StandardName(text);
  LabStore store(session);
  int exitCode = kExitOk;
  records::RecordStore* db = OpenOrFail(session, store, exitCode);
  if (db == nullptr) return exitCode;
  const records::Found<records::StandardRecord> found = db->Standard(name);
  if (!found.status.ok) return ReadFailed(session, store, found.status);
  if (!found.value) {
    return FailWith(session, kExitUsage, "no standard named '" + name + "' in the library",
                    "vantorelctl standard list lists the standards");
  }
  const records::Found<std::vector<records::StandardRecord>> versions = db->StandardVersions(name);
  if (!versions.status.ok) return ReadFailed(session, store, versions.status);
  const records::StandardRecord& standard = *found.value;
  nlohmann::json history = nlohmann::json::array();
  for (const records::StandardRecord& version : *versions.value) {
    history.push_back(quality::StandardJson(version, false));
  }
  return Succeed(
      session, {{"standard", quality::StandardJson(standard, true)}, {"versions", history}}, [&] {
        session.out << "standard  " << standard.name << ", version " << standard.version << " of "
                    << standard.time << '\n'
                    << "source    " << standard.source << '\n'
                    << "formula   " << standard.formula << ", tolerance "
                    << DefaultTolerance(standard) << '\n';
        if (!standard.note.empty()) session.out << "note      " << standard.note << '\n';
        const quality::Tolerances tolerances = quality::TolerancesOf(standard);
        std::vector<std::vector<std::string>> rows = {{"GEOMETRY", "L*", "a*", "b*", "TOL"}};
        for (const records::GeometryLab& value : standard.values) {
          rows.push_back({value.geometry, Fixed(value.lab[0]), Fixed(value.lab[1]),
                          Fixed(value.lab[2]), Fixed(tolerances.For(value.geometry))});
        }
        PrintTable(session.out, rows);
        if (versions.value->size() > 1) {
          session.out << "versions ";
          for (const records::StandardRecord& version : *versions.value) {
            session.out << " v" << version.version << " " << version.time;
          }
          session.out << '\n';
        }
      });
}

int StandardRemoveCommand(Session& session, const std::string& text) {
  const std::string name = StandardName(text);
  LabStore store(session);
  int exitCode = kExitOk;
  records::RecordStore* db = OpenOrFail(session, store, exitCode);
  if (db == nullptr) return exitCode;
  const records::Found<bool> removed = db->RemoveStandard(name);
  if (!removed.status.ok) {
    return FailWith(session, kExitStore, "cannot remove the standard: " + removed.status.message,
                    store.Hint());
  }
  if (!*removed.value) {
    return FailWith(session, kExitUsage, "no standard named '" + name + "' in the library",
                    "vantorelctl standard list lists the standards");
  }
  return Succeed(session, {{"standard", name}}, [&] {
    session.out << "standard " << name
                << " removed from the library (its versions stay for the records that name them)\n";
  });
}

int TrendCommand(Session& session, const std::string& text, const std::string& since,
                 const std::string& outDir, bool force) {
  const std::string name = StandardName(text);
  std::optional<std::string> from;
  if (!since.empty()) {
    from = ParseSince(since);
    if (!from) {
      return FailWith(session, kExitUsage, "--since " + since + " is not a date",
                      "give YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)");
    }
  }
  LabStore store(session);
  int exitCode = kExitOk;
  records::RecordStore* db = OpenOrFail(session, store, exitCode);
  if (db == nullptr) return exitCode;
  const records::Found<std::vector<records::StandardRecord>> versions = db->StandardVersions(name);
  if (!versions.status.ok) return ReadFailed(session, store, versions.status);
  if (versions.value->empty()) {
    return FailWith(session, kExitUsage, "no standard named '" + name + "' in the library",
                    "vantorelctl standard list lists the standards");
  }
  const records::Found<std::vector<records::TrendPoint>> found = db->Trend(name, from);
  if (!found.status.ok) return ReadFailed(session, store, found.status);
  const std::vector<records::TrendPoint>& points = *found.value;
  const std::optional<colour::Formula> formula =
      colour::ParseFormula(versions.value->back().formula);
  const std::string label = formula ? colour::FormulaLabel(*formula) : "dE";

  nlohmann::json payload = {{"standard", name}};
  nlohmann::json list = nlohmann::json::array();
  std::vector<std::vector<std::string>> rows = {
      {"COMPARISON", "TIME (UTC)", "VERSION", "BATCH", "WORST", "MAX " + label, "TOL", "RESULT"}};
  int version = 0;
  for (const records::TrendPoint& point : points) {
    const records::TrendValue* worst = nullptr;
    for (const records::TrendValue& value : point.values) {
      if (value.deltaE && (worst == nullptr ||
                           *value.deltaE - value.tolerance > *worst->deltaE - worst->tolerance)) {
        worst = &value;
      }
    }
    const std::string batch = point.job.empty() ? point.batchSource : point.job;
    list.push_back(quality::TrendPointJson(point));
    if (point.version != version && version != 0) {
      rows.push_back({"--", "version " + std::to_string(point.version) + " from here", "", "", "",
                      "", "", ""});
    }
    version = point.version;
    rows.push_back({"#" + std::to_string(point.comparison), point.time,
                    std::to_string(point.version), batch, worst ? worst->geometry : "-",
                    worst ? Fixed(*worst->deltaE) : "-", worst ? Fixed(worst->tolerance) : "-",
                    point.passed ? "pass" : "FAIL"});
  }
  payload["points"] = list;
  if (!outDir.empty()) {
    const std::optional<std::filesystem::path> dir = exporter::PathFromUtf8(outDir);
    const exporter::ExportResult written =
        dir ? quality::WriteTrendFolder(*dir, quality::TrendCsv(points),
                                        quality::TrendSvg(points, name, label), force)
            : exporter::ExportResult{};
    if (!dir || !written.ok) {
      return FailWith(session, kExitWrite,
                      "cannot write the trend folder: " + (dir ? written.error : outDir));
    }
    payload["out"] = outDir;
    payload["files"] = written.files;
  }
  return Succeed(session, std::move(payload), [&] {
    if (points.empty()) {
      session.out << "no comparisons against " << name << " recorded"
                  << (from ? " since " + since : "") << '\n';
    } else {
      PrintTable(session.out, rows);
    }
    if (!outDir.empty()) session.out << "wrote trend.csv, trend.svg to " << outDir << '\n';
  });
}

int ReportCommand(Session& session, const std::string& text, const std::string& outFile,
                  bool force) {
  int exitCode = kExitOk;
  const std::optional<std::int64_t> id = IdOrFail(session, text, exitCode);
  if (!id) return exitCode;
  LabStore store(session);
  records::RecordStore* db = OpenOrFail(session, store, exitCode);
  if (db == nullptr) return exitCode;
  const records::Found<records::ComparisonRecord> found = db->Comparison(*id);
  if (!found.status.ok) return ReadFailed(session, store, found.status);
  if (!found.value) {
    const bool measurement = db->KindOf(*id).value == records::EntryKind::kMeasurement;
    return FailWith(session, kExitUsage,
                    measurement ? "#" + std::to_string(*id) + " is a measurement, not a comparison"
                                : "no comparison #" + std::to_string(*id) + " in " + store.Where(),
                    "vantorelctl history lists measurements with the comparisons made with them");
  }
  const records::ComparisonRecord& comparison = *found.value;
  std::optional<records::StandardRecord> standard;
  std::optional<records::MeasurementRecord> batch;
  if (comparison.standardId) standard = db->StandardById(*comparison.standardId).value;
  if (comparison.batchRecord) batch = db->Measurement(*comparison.batchRecord).value;
  const quality::ReportInput input{comparison, standard ? &*standard : nullptr,
                                   batch ? &*batch : nullptr};
  nlohmann::json payload = {{"report", quality::ReportJson(input)}};
  if (!outFile.empty()) {
    std::string error;
    if (!WriteFileAtomically(outFile, quality::ReportHtml(input), force, error)) {
      return FailWith(session, kExitWrite, "cannot write the report: " + error);
    }
    payload["out"] = outFile;
  }
  return Succeed(session, std::move(payload), [&] {
    if (outFile.empty()) {
      session.out << quality::ReportHtml(input);
    } else {
      session.out << "wrote the report of comparison #" << *id << " to " << outFile << '\n';
    }
  });
}

}  // namespace vantorel::ctl
