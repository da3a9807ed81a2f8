#include "client/quality/Comparison.h"

namespace vantorel::quality {

const char* StatusText(RowStatus status) {
  switch (status) {
    case RowStatus::kPass:
      return "pass";
    case RowStatus::kFail:
      return "fail";
    case RowStatus::kOnlyStandard:
      return "only in standard";
    case RowStatus::kOnlyBatch:
      return "only in batch";
  }
  return "fail";
}

std::optional<double> FlopIndexOf(const QcSide& side) {
  const GeometryLab* l15 = side.Find("r45as15");
  const GeometryLab* l45 = side.Find("r45as45");
  const GeometryLab* l110 = side.Find("r45as110");
  if (l15 == nullptr || l45 == nullptr || l110 == nullptr) return std::nullopt;
  return colour::FlopIndex(l15->lab.l, l45->lab.l, l110->lab.l);
}

Comparison Compare(const QcSide& standard, const QcSide& batch, colour::Formula formula,
                   const Tolerances& tolerances) {
  Comparison comparison;
  comparison.standard = standard;
  comparison.batch = batch;
  comparison.formula = formula;
  comparison.standardFlop = FlopIndexOf(standard);
  comparison.batchFlop = FlopIndexOf(batch);
  for (const GeometryLab& value : standard.values) {
    ComparisonRow row;
    row.geometry = value.geometry;
    row.standard = value.lab;
    row.tolerance = tolerances.For(value.geometry);
    const GeometryLab* other = batch.Find(value.geometry);
    if (other == nullptr) {
      row.status = RowStatus::kOnlyStandard;
    } else {
      row.batch = other->lab;
      row.components = colour::Components(value.lab, other->lab);
      row.deltaE = colour::DeltaE(formula, value.lab, other->lab);
      // A NaN difference (never from finite input) must not pass.
      const bool within = row.deltaE <= row.tolerance;
      row.status = within ? RowStatus::kPass : RowStatus::kFail;
      ++comparison.compared;
      if (!within) ++comparison.failed;
    }
    comparison.rows.push_back(std::move(row));
  }
  for (const GeometryLab& value : batch.values) {
    if (standard.Find(value.geometry) != nullptr) continue;
    ComparisonRow row;
    row.geometry = value.geometry;
    row.batch = value.lab;
    row.tolerance = tolerances.For(value.geometry);
    row.status = RowStatus::kOnlyBatch;
    comparison.rows.push_back(std::move(row));
  }
  return comparison;
}

}  // namespace vantorel::quality
