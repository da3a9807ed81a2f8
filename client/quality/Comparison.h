// Comparison: a batch against its standard, geometry by geometry, with one
// colour-difference formula and a tolerance per geometry.
//
// Rows follow the standard's order of geometries, then the geometries only
// the batch has. A geometry on one side only is listed as such and neither
// passes nor fails; the batch passes when every geometry on both sides is
// within its tolerance (ΔE <= tolerance). The flop index of each side comes
// from its r45as15, r45as45 and r45as110 values when it has all three.
//
// Threads: plain values and pure functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/quality/QcSide.h"
#include "client/quality/Tolerances.h"
#include "colour/ColourDifference.h"

namespace vantorel::quality {

enum class RowStatus { kPass, kFail, kOnlyStandard, kOnlyBatch };

// "pass", "fail", "only in standard", "only in batch".
const char* StatusText(RowStatus status);

struct ComparisonRow {
  std::string geometry;
  RowStatus status = RowStatus::kPass;
  std::optional<colour::Lab> standard;
  std::optional<colour::Lab> batch;
  // Set when both sides have the geometry.
  colour::LabComponents components;
  double deltaE = 0.0;
  double tolerance = 0.0;
};

struct Comparison {
  QcSide standard;
  QcSide batch;
  colour::Formula formula = colour::Formula::kDe2000;
  std::vector<ComparisonRow> rows;
  std::optional<double> standardFlop;
  std::optional<double> batchFlop;
  int compared = 0;  // geometries on both sides
  int failed = 0;    // of those, outside tolerance

  bool Passed() const { return compared > 0 && failed == 0; }
};

Comparison Compare(const QcSide& standard, const QcSide& batch, colour::Formula formula,
                   const Tolerances& tolerances);

// Alman's flop index of a side, from its r45as15, r45as45 and r45as110.
std::optional<double> FlopIndexOf(const QcSide& side);

}  // namespace vantorel::quality
