// ComparisonRecord: a comparison kept in the record store, turned back into
// the Comparison the charts of `compare` draw (QcSvg.h), so that a report of
// a stored comparison shows the same pictures.
//
// Threads: pure functions.
#pragma once

#include <optional>

#include "client/quality/Comparison.h"
#include "client/records/RecordTypes.h"

namespace vantorel::quality {

// The rows in the record's order with its values, statuses and tolerances
// (nothing is computed again: the record is what was decided then); a
// row whose status text is none of StatusText's is classed by its sides and
// ΔE. The sides' sources are the record's; their values are the rows' L*a*b*
// (non-finite ones left out). Nothing when the record's formula is unknown,
// since the tolerance contours depend on it.
std::optional<Comparison> ComparisonFromRecord(const records::ComparisonRecord& record);

}  // namespace vantorel::quality
