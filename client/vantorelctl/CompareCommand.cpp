#include "client/vantorelctl/CompareCommand.h"

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "client/quality/Comparison.h"
#include "client/quality/CxfReader.h"
#include "client/quality/FileText.h"
#include "client/quality/QcFolder.h"
#include "client/quality/QcReport.h"
#include "client/quality/ResultFolderReader.h"
#include "client/vantorelctl/DriverLink.h"
#include "client/vantorelctl/JobList.h"
#include "client/vantorelctl/ResultHints.h"

namespace vantorel::ctl {
namespace {

constexpr std::string_view kJobPrefix = "job:";

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

// Reads one side. On failure reports it and sets `exitCode`.
class SideReader {
 public:
  explicit SideReader(Session& session) : session_(session) {}

  std::optional<quality::QcSide> Read(const std::string& what, int& exitCode) {
    quality::SideRead read;
    if (what.starts_with(kJobPrefix)) {
      const std::string job = what.substr(kJobPrefix.size());
      if (job.empty()) {
        exitCode = FailWith(session_, kExitUsage, "job: needs a job name, as in job:NAME");
        return std::nullopt;
      }
      // As `measure`: a job still measuring would hold the driver.
      JobAdvancedInfo entry;
      if (!CheckFetchable(session_, link_, job, std::nullopt, entry, exitCode)) return std::nullopt;
      const MeasurementAnswer answer =
          link_.Request([&](Client& client) { return client.GetMeasure(job); });
      if (!answer.status.Ok()) {
        HintContext context;
        context.command = session_.command;
        context.job = job;
        context.jobState = entry.state;
        context.connectTimeoutMs = session_.connectTimeoutMs;
        exitCode = Fail(session_, answer.status, NextStep(answer.status, context));
        return std::nullopt;
      }
      read = quality::SideFromMeasurement(answer.data, what);
      if (read.ok && read.side.values.empty()) {
        read.ok = false;
        read.error = "job " + job + " has no L*a*b* values (is it measured?)";
      }
    } else {
      std::error_code ec;
      const std::filesystem::path path(what);
      const auto type = std::filesystem::status(path, ec).type();
      if (type == std::filesystem::file_type::directory) {
        read = quality::ReadResultFolder(path, what);
      } else if (type == std::filesystem::file_type::regular) {
        read = quality::ReadCxfFile(path, what);
      } else {
        read.error = "no such result folder or CxF3 file: " + what;
      }
    }
    for (const std::string& warning : read.warnings) session_.err << "warning: " << warning << '\n';
    warnings_.insert(warnings_.end(), read.warnings.begin(), read.warnings.end());
    if (!read.ok) {
      exitCode = FailWith(session_, kExitUsage, read.error);
      return std::nullopt;
    }
    return read.side;
  }

  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  Session& session_;
  DriverLink link_{session_};
  std::vector<std::string> warnings_;
};

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

}  // namespace

int CompareCommand(Session& session, const CompareOptions& options) {
  const std::optional<colour::Formula> formula = colour::ParseFormula(options.formula);
  if (!formula) {
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
  SideReader reader(session);
  int exitCode = kExitOk;
  const std::optional<quality::QcSide> standard = reader.Read(options.standard, exitCode);
  if (!standard) return exitCode;
  const std::optional<quality::QcSide> batch = reader.Read(options.batch, exitCode);
  if (!batch) return exitCode;

  const quality::Comparison comparison = quality::Compare(*standard, *batch, *formula, tolerances);
  if (comparison.compared == 0) {
    return FailWith(session, kExitUsage,
                    "the standard and the batch have no geometry in common (standard: " +
                        std::to_string(standard->values.size()) +
                        " geometries, batch: " + std::to_string(batch->values.size()) + ")");
  }
  nlohmann::json payload = quality::ComparisonJson(comparison);
  payload["warnings"] = reader.Warnings();
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
  Succeed(session, std::move(payload), [&] {
    PrintComparison(session, comparison);
    if (!options.outDir.empty())
      session.out << "wrote qc.json, qc.csv, qc.svg to " << options.outDir << '\n';
  });
  return comparison.Passed() ? kExitOk : kExitQcFail;
}

}  // namespace vantorel::ctl
