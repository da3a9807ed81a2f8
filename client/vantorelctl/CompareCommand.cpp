#include "client/vantorelctl/CompareCommand.h"

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "client/quality/Comparison.h"
#include "client/quality/CxfReader.h"
#include "client/quality/FileText.h"
#include "client/quality/QcFolder.h"
#include "client/quality/QcReport.h"
#include "client/quality/RecordConversion.h"
#include "client/quality/ResultFolderReader.h"
#include "client/vantorelctl/CompareSides.h"
#include "client/vantorelctl/DriverLink.h"
#include "client/vantorelctl/JobList.h"
#include "client/vantorelctl/Recording.h"
#include "client/vantorelctl/ResultHints.h"

namespace vantorel::ctl {
namespace {

// "+1.25", "-0.40"; a value that rounds to zero is "+0.00" whatever its sign.
std::string Signed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f", value);
  if (std::string_view(text) == "-0.00") return "+0.00";
  return text;
}

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// What the command line set over a library standard's own values.
nlohmann::json Overrides(const CompareOptions& options) {
  nlohmann::json overrides = nlohmann::json::object();
  if (!options.formula.empty()) overrides["formula"] = options.formula;
  if (options.tolerance) overrides["tolerance"] = *options.tolerance;
  if (!options.toleranceFile.empty()) overrides["toleranceFile"] = options.toleranceFile;
  return overrides;
}

}  // namespace

void PrintComparison(Session& session, const quality::Comparison& c) {
  const auto flop = [](const std::optional<double>& value) {
    return value ? Fixed(*value) : std::string("n/a (needs r45as15, r45as45, r45as110)");
  };
  session.out << "standard  " << c.standard.source << " (" << c.standard.kind << "), flop index "
              << flop(c.standardFlop) << '\n';
  session.out << "batch     " << c.batch.source << " (" << c.batch.kind << "), flop index "
              << flop(c.batchFlop) << '\n';
  const std::string label = colour::FormulaLabel(c.formula);
  std::vector<std::vector<std::string>> rows = {
      {"GEOMETRY", "dL*", "da*", "db*", "dC*", "dH*", label, "TOL", "RESULT"}};
  for (const quality::ComparisonRow& row : c.rows) {
    if (row.status == quality::RowStatus::kPass || row.status == quality::RowStatus::kFail) {
      const colour::LabComponents& d = row.components;
      rows.push_back({row.geometry, Signed(d.dL), Signed(d.da), Signed(d.db), Signed(d.dC),
                      Signed(d.dH), Fixed(row.deltaE), Fixed(row.tolerance),
                      row.status == quality::RowStatus::kPass ? "pass" : "FAIL"});
    } else {
      rows.push_back({row.geometry, "-", "-", "-", "-", "-", "-", Fixed(row.tolerance),
                      quality::StatusText(row.status)});
    }
  }
  PrintTable(session.out, rows);
  const std::size_t oneSided = c.rows.size() - static_cast<std::size_t>(c.compared);
  const std::string compared =
      Counted(static_cast<std::uint64_t>(c.compared), "geometry", "geometries");
  std::string verdict =
      c.Passed() ? "PASS: " + std::to_string(c.compared) + " of " + compared + " within tolerance"
                 : "FAIL: " + std::to_string(c.failed) + " of " + compared + " outside tolerance";
  if (oneSided > 0) {
    verdict += " (" + std::to_string(oneSided) + " on one side only, not compared)";
  }
  session.out << "verdict   " << verdict << '\n';
}

int CompareCommand(Session& session, const CompareOptions& options) {
  std::optional<colour::Formula> formula;
  if (!options.formula.empty()) {
    formula = colour::ParseFormula(options.formula);
    if (!formula) {
      return FailWith(session, kExitUsage,
                      "unknown formula " + options.formula + " (de2000, de94, cmc or de76)");
    }
  }
  std::optional<quality::Tolerances> given;
  if (options.tolerance) {
    given.emplace();
    given->fallback = *options.tolerance;
  }
  if (!options.toleranceFile.empty()) {
    std::string text, error;
    given.emplace();
    if (!quality::ReadFileText(options.toleranceFile, text, error, 1u << 20) ||
        !quality::ParseTolerances(text, options.toleranceFile, *given, error)) {
      return FailWith(session, kExitUsage, error);
    }
  }
  LabStore store(session);
  SideReader reader(session, store, options.record);
  int exitCode = kExitOk;
  const std::optional<Side> standard = reader.Read(options.standard, true, exitCode);
  if (!standard) return exitCode;
  const std::optional<Side> batch = reader.Read(options.batch, false, exitCode);
  if (!batch) return exitCode;

  if (!formula) {
    formula = standard->standard ? colour::ParseFormula(standard->standard->formula)
                                 : std::optional<colour::Formula>(colour::Formula::kDe2000);
    if (!formula) formula = colour::Formula::kDe2000;
  }
  const quality::Tolerances tolerances = given ? *given
                                         : standard->standard
                                             ? quality::TolerancesOf(*standard->standard)
                                             : quality::Tolerances{};
  const quality::Comparison comparison =
      quality::Compare(standard->values, batch->values, *formula, tolerances);
  if (comparison.compared == 0) {
    return FailWith(session, kExitUsage,
                    "the standard and the batch have no geometry in common (standard: " +
                        std::to_string(standard->values.values.size()) +
                        " geometries, batch: " + std::to_string(batch->values.values.size()) + ")");
  }
  nlohmann::json payload = quality::ComparisonJson(comparison);
  payload["warnings"] = reader.Warnings();
  if (standard->standard) {
    payload["standardName"] = standard->standard->name;
    payload["standardVersion"] = standard->standard->version;
  }
  if (!options.outDir.empty()) {
    const exporter::ExportResult written =
        quality::WriteQcFolder(options.outDir, comparison, options.force);
    if (!written.ok) {
      return FailWith(session, kExitWrite, "cannot write the QC folder: " + written.error);
    }
    for (const std::string& warning : written.warnings) {
      session.err << "warning: " << warning << '\n';
    }
    payload["out"] = options.outDir;
    payload["files"] = written.files;
  }

  Recorded recorded = reader.StoreFailure();
  std::optional<std::int64_t> comparisonId;
  if (options.record.record && !recorded.Failed()) {
    records::ComparisonRecord record = quality::RecordFromComparison(comparison);
    record.operatorName = OperatorName(session, options.record);
    record.instrument = options.record.instrument;
    if (standard->standard) {
      record.standardId = standard->standard->id;
      record.standardName = standard->standard->name;
      record.standardVersion = standard->standard->version;
      record.overrides = Overrides(options).dump();
    }
    record.batchRecord = batch->record;
    records::RecordStore* db = store.Get();
    const records::StoreStatus status =
        db != nullptr ? db->AddComparison(record) : records::StoreStatus::Error(store.Problem());
    if (status.ok) {
      comparisonId = record.id;
    } else {
      recorded.problem = "the comparison was not recorded: " + status.message;
      recorded.hint = store.Hint();
      recorded.exitCode = db != nullptr ? kExitStore : store.ExitCode();
    }
  }
  if (options.record.record) {
    payload["comparison"] = comparisonId ? nlohmann::json(*comparisonId) : nullptr;
  }
  if (batch->record) payload["batchRecord"] = *batch->record;
  const auto human = [&] {
    PrintComparison(session, comparison);
    if (!options.outDir.empty())
      session.out << "wrote qc.json, qc.csv, qc.svg to " << options.outDir << '\n';
    if (comparisonId && !session.json) PrintRecorded(session, "comparison recorded", *comparisonId);
  };
  if (recorded.Failed()) {
    // The verdict is printed but not kept: the database's failure wins.
    return SucceedPartly(session, std::move(payload), human, recorded.exitCode, recorded.problem,
                         recorded.hint);
  }
  Succeed(session, std::move(payload), human);
  if (comparisonId && session.json) PrintRecorded(session, "comparison recorded", *comparisonId);
  return comparison.Passed() ? kExitOk : kExitQcFail;
}

}  // namespace vantorel::ctl
