#include "client/quality/ComparisonRecord.h"

#include <cmath>

namespace vantorel::quality {
namespace {

bool Finite(const records::Lab3& lab) {
  return std::isfinite(lab[0]) && std::isfinite(lab[1]) && std::isfinite(lab[2]);
}

RowStatus StatusOf(const records::ComparisonRowRecord& row, bool both) {
  for (RowStatus status :
       {RowStatus::kPass, RowStatus::kFail, RowStatus::kOnlyStandard, RowStatus::kOnlyBatch}) {
    if (row.status == StatusText(status)) return status;
  }
  if (!both) return row.standardLab ? RowStatus::kOnlyStandard : RowStatus::kOnlyBatch;
  return row.deltaE && *row.deltaE <= row.tolerance ? RowStatus::kPass : RowStatus::kFail;
}

}  // namespace

std::optional<Comparison> ComparisonFromRecord(const records::ComparisonRecord& record) {
  const std::optional<colour::Formula> formula = colour::ParseFormula(record.formula);
  if (!formula) return std::nullopt;
  Comparison c;
  c.formula = *formula;
  c.standard.source = record.standardSource;
  c.standard.kind = "record";
  c.batch.source = record.batchSource;
  c.batch.kind = "record";
  c.standardFlop = record.standardFlop;
  c.batchFlop = record.batchFlop;
  const auto lab = [](const std::optional<records::Lab3>& value) -> std::optional<colour::Lab> {
    if (!value || !Finite(*value)) return std::nullopt;
    return colour::Lab{(*value)[0], (*value)[1], (*value)[2]};
  };
  for (const records::ComparisonRowRecord& r : record.rows) {
    ComparisonRow row;
    row.geometry = r.geometry;
    row.standard = lab(r.standardLab);
    row.batch = lab(r.batchLab);
    row.status = StatusOf(r, row.standard && row.batch);
    // A row that claims both sides but lost one (a non-finite value) is
    // drawn as one-sided rather than as a point nowhere.
    if ((row.status == RowStatus::kPass || row.status == RowStatus::kFail) &&
        !(row.standard && row.batch)) {
      row.status = row.standard ? RowStatus::kOnlyStandard : RowStatus::kOnlyBatch;
    }
    const double nan = std::nan("");
    row.components = {r.dL.value_or(nan), r.da.value_or(nan), r.db.value_or(nan),
                      r.dC.value_or(nan), r.dH.value_or(nan)};
    row.deltaE = r.deltaE.value_or(nan);
    row.tolerance = r.tolerance;
    if (row.standard) c.standard.values.push_back({row.geometry, *row.standard});
    if (row.batch) c.batch.values.push_back({row.geometry, *row.batch});
    if (row.status == RowStatus::kPass || row.status == RowStatus::kFail) {
      ++c.compared;
      if (row.status == RowStatus::kFail) ++c.failed;
    }
    c.rows.push_back(std::move(row));
  }
  return c;
}

}  // namespace vantorel::quality
