#include "client/export/SampleStatistics.h"

#include <algorithm>
#include <cmath>

namespace vantorel::exporter {

const LabSpread* SampleStatistics::Find(SpectrumAngle angle) const {
  const auto it = geometries.find(angle);
  return it == geometries.end() ? nullptr : &it->second;
}

void SampleSpread::Add(const VantorelMeasurementsFull& sample) {
  ++samples_;
  for (const auto& [angle, values] : sample.measurements) {
    if (!IsListedAngle(angle)) continue;
    std::array<Running, 3>& components = running_[angle];
    for (std::size_t c = 0; c < 3; ++c) {
      const double v = values.lab[c];
      if (!std::isfinite(v)) continue;
      Running& r = components[c];
      if (r.n == 0) {
        r.lo = r.hi = v;
      } else {
        r.lo = std::min(r.lo, v);
        r.hi = std::max(r.hi, v);
      }
      ++r.n;
      const double delta = v - r.mean;
      r.mean += delta / static_cast<double>(r.n);
      r.m2 += delta * (v - r.mean);
    }
  }
}

SampleStatistics SampleSpread::Result() const {
  SampleStatistics out;
  out.sampleCount = samples_;
  for (const auto& [angle, components] : running_) {
    LabSpread& spread = out.geometries[angle];
    for (std::size_t c = 0; c < 3; ++c) {
      const Running& r = components[c];
      if (r.n >= 1) spread.range[c] = r.hi - r.lo;
      if (r.n >= 2) spread.stdev[c] = std::sqrt(r.m2 / static_cast<double>(r.n - 1));
    }
  }
  return out;
}

}  // namespace vantorel::exporter
