// ResultGeometry: the measurement geometries and wavelengths as the result
// folder presents them, and the selection of the records it writes.
//
// Records are keyed by SpectrumAngle; a key read from the wire may be any
// integer. Only the eleven listed geometries are written; everything else is
// skipped (and counted, so the caller can warn).
//
// Threads: pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "messages/MeasurementRecords.h"

namespace vantorel::exporter {

// The spectral axis: 31 values from 400 to 700 nm in 10 nm steps.
inline constexpr int kFirstWavelengthNm = 400;
inline constexpr int kWavelengthStepNm = 10;
inline constexpr int kLastWavelengthNm = 700;

// Wavelength of spectrum value `i` (0..30).
constexpr int WavelengthNm(std::size_t i) {
  return kFirstWavelengthNm + kWavelengthStepNm * static_cast<int>(i);
}

struct GeometryInfo {
  SpectrumAngle angle = R15As15;
  std::string name;      // the device's name, e.g. "r15as-45"
  int incidenceDeg = 0;  // illumination angle from the surface normal
  int aspecularDeg = 0;  // viewing angle measured from the specular direction
};

// The description of `angle`, or nothing when it is not one of the eleven
// listed geometries.
std::optional<GeometryInfo> DescribeGeometry(SpectrumAngle angle);

// One listed geometry with its spectral record. `values` points into the map
// it was taken from and lives as long as that map is unchanged.
struct MeasuredGeometry {
  GeometryInfo geometry;
  const VantorelMeasurements* values = nullptr;
};

// The listed geometries of data->measurements in key order (the 15-degree
// geometries first). Empty for a null pointer.
std::vector<MeasuredGeometry> MeasuredGeometries(const VantorelMeasurementsFull* data);

// Number of keys in either map that are not listed geometries.
std::size_t UnlistedKeyCount(const VantorelMeasurementsFull& data);

}  // namespace vantorel::exporter
