// QcSide: one side of a colour comparison (the standard or the batch): the
// L*a*b* values a measurement reported per geometry, and where they came
// from. Readers of each source (result folder, CxF3 file, a measurement from
// the driver) produce one; Comparison.h compares two.
//
// Threads: plain values.
#pragma once

#include <string>
#include <vector>

#include "colour/ColourDifference.h"
#include "messages/MeasurementRecords.h"

namespace vantorel::quality {

struct GeometryLab {
  std::string geometry;  // e.g. "r45as45"
  colour::Lab lab;
};

struct QcSide {
  std::string source;  // what the user named: a path or "job:NAME"
  std::string kind;    // "result folder", "CxF3 file" or "instrument"
  // At most one entry per geometry, finite values only, in the source's order.
  std::vector<GeometryLab> values;

  // The entry of `geometry`, or null.
  const GeometryLab* Find(const std::string& geometry) const;
};

// Outcome of reading a side: `ok` with the side and any warnings (values that
// were skipped), or not `ok` with an error sentence naming the source.
struct SideRead {
  bool ok = false;
  std::string error;
  QcSide side;
  std::vector<std::string> warnings;
};

// The side of a measurement the driver answered: the L*a*b* of each listed
// geometry in key order. Non-finite values are skipped with a warning;
// unlisted keys are ignored.
SideRead SideFromMeasurement(const VantorelMeasurementsFull& data, const std::string& source);

// Appends `value` to `read` unless its geometry is already there (then `read`
// becomes an error naming the geometry) or a component is not finite (then it
// is skipped with a warning). Returns false once `read` holds an error.
bool AddValue(SideRead& read, GeometryLab value);

}  // namespace vantorel::quality
