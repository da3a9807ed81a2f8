// RecordConversion: between what the driver answers (and what the result
// folder and compare work with) and what the record store keeps.
//
// Threads: pure functions.
#pragma once

#include <optional>

#include "client/export/SampleStatistics.h"
#include "client/quality/Comparison.h"
#include "client/quality/QcSide.h"
#include "client/quality/Tolerances.h"
#include "client/records/RecordTypes.h"
#include "messages/MeasurementRecords.h"

namespace vantorel::quality {

// One answer (a sample, index >= 0, or the combined measurement, -1) as a
// record's reading: every listed geometry, the images' bytes only when
// `withImages`.
records::SampleReading ReadingFromAnswer(const VantorelMeasurementsFull& data, int index,
                                         bool withImages);

// The answer a reading stands for, as the result folder's writers take it:
// spectra and L*a*b* (the protocol's floats) and the recorded images with
// their texture values (texture values alone, without an image, stay in the
// record).
VantorelMeasurementsFull AnswerFromReading(const records::SampleReading& reading);

// Per geometry the mean (the combined values), standard deviation and range.
std::vector<records::GeometrySpread> SpreadFromStatistics(const VantorelMeasurementsFull& combined,
                                                          const exporter::SampleStatistics& stats);
// The statistics a record states, for writing its result folder again;
// empty when the record has no spread.
std::optional<exporter::SampleStatistics> StatisticsFromRecord(
    const records::MeasurementRecord& record);

// The L*a*b* per geometry of a recorded measurement or of a standard.
QcSide SideFromRecord(const records::MeasurementRecord& record, const std::string& source);
QcSide SideFromStandard(const records::StandardRecord& standard, const std::string& source);

// The tolerances a standard stores, and the other way round.
Tolerances TolerancesOf(const records::StandardRecord& standard);
std::vector<records::GeometryTolerance> ToleranceList(const Tolerances& tolerances);

// The rows, flop indices and verdict of a comparison, for the store.
records::ComparisonRecord RecordFromComparison(const Comparison& comparison);

}  // namespace vantorel::quality
