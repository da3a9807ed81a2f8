// SampleStatistics: how far the samples of a job spread around their
// combined measurement, per geometry and L*a*b* component, for the result
// folder (result.json, lab.csv) to state beside the mean.
//
// The accumulator takes one sample at a time, so that a caller can fetch the
// samples one by one into the same buffer and never hold them all. For each
// listed geometry and component it keeps the count of finite values, their
// running mean and sum of squared deviations (Welford) and the smallest and
// largest value; non-finite values and unlisted keys are ignored.
//
// Threads: a SampleSpread belongs to one thread; SampleStatistics is a plain
// value.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <optional>

#include "messages/MeasurementRecords.h"

namespace vantorel::exporter {

// The spread of one geometry's L*, a*, b* over the samples. A component has
// a standard deviation (n - 1 in the denominator) only when at least two
// samples gave it a finite value, and a range (largest minus smallest) only
// when at least one did.
struct LabSpread {
  std::array<std::optional<double>, 3> stdev;
  std::array<std::optional<double>, 3> range;
};

struct SampleStatistics {
  // Number of samples the combined measurement is the mean of.
  std::size_t sampleCount = 0;
  // Listed geometries that at least one sample holds, in key order.
  std::map<SpectrumAngle, LabSpread> geometries;

  // The spread of `angle`, or null when no sample held it.
  const LabSpread* Find(SpectrumAngle angle) const;
};

class SampleSpread {
 public:
  // Counts one sample and takes in the L*a*b* of each of its geometries.
  void Add(const VantorelMeasurementsFull& sample);
  // The statistics of every sample added so far.
  SampleStatistics Result() const;

 private:
  struct Running {
    std::size_t n = 0;
    double mean = 0.0;
    double m2 = 0.0;  // sum of squared deviations from the mean
    double lo = 0.0;
    double hi = 0.0;
  };
  std::size_t samples_ = 0;
  std::map<SpectrumAngle, std::array<Running, 3>> running_;
};

}  // namespace vantorel::exporter
