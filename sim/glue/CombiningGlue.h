// CombiningGlue: our glue module's GlueInterface. It combines the samples of
// one measurement into the result the driver answers.
//
// AddSample folds a sample's spectra and L*a*b* into running sums per
// geometry and keeps the first sample's images; FillResult leaves, per
// geometry, the mean spectrum and the mean L*a*b* (index of the geometry's
// first appearance), the first sample's image with seven texture values
// computed from it (see colour/TextureStats.h); ResultReady forgets
// everything, so the next measurement starts afresh. SampleRead keeps
// nothing. Memory does not grow with the number of samples.
//
// Threads: the driver calls it from one thread at a time; no locks.
#pragma once

#include <array>
#include <map>

#include "device/GlueInterface.h"
#include "messages/MeasurementRecords.h"

class CombiningGlue final : public GlueInterface {
 public:
  CombiningGlue() = default;
  virtual ~CombiningGlue() = default;

  void AddSample(VantorelMeasurementsFull* records) override;
  void FillResult(VantorelMeasurementsFull* records) override;
  void SampleRead(VantorelMeasurementsFull* records) override;
  void ResultReady(VantorelMeasurementsFull* records) override;

  // Samples folded in since the last ResultReady.
  int SampleCount() const { return samples; }

 private:
  struct Sums {
    std::int64_t index = 0;
    int count = 0;
    std::array<double, kSpectrumValueCount> spectrum{};
    std::array<double, 3> lab{};
  };
  std::map<SpectrumAngle, Sums> sums;
  ImageMap firstImages;
  int samples = 0;
};
