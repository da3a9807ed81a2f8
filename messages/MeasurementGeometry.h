// MeasurementGeometry: the eleven measurement geometries of the instrument,
// the one table the whole product reads them from (the SpectrumAngle keys,
// the exports, quality control and the virtual instrument).
//
// A geometry name "r<I>as<A>" is the illumination angle I from the surface
// normal and the aspecular angle A of the detector (angle from the specular
// direction; negative values lie on the illumination side). The table's
// order is that of SpectrumAngle's enumerators: kMeasurementGeometries[angle]
// describes `angle`. It is also the order in which the instrument delivers a
// sample's spectral contents.
//
// Header-only constants without dependencies, so that a device module can
// use them without linking the messages library.
//
// Threads: constants only.
#pragma once

#include <array>
#include <cstddef>

struct MeasurementGeometry {
  const char* name;     // the device's name: a static, zero-terminated string
  int illuminationDeg;  // illumination angle from the surface normal
  int aspecularDeg;     // viewing angle measured from the specular direction
};

inline constexpr std::size_t kMeasurementGeometryCount = 11;

inline constexpr std::array<MeasurementGeometry, kMeasurementGeometryCount> kMeasurementGeometries =
    {{
        {"r15as-45", 15, -45},
        {"r15as-15", 15, -15},
        {"r15as15", 15, 15},
        {"r15as45", 15, 45},
        {"r15as80", 15, 80},
        {"r45as-15", 45, -15},
        {"r45as15", 45, 15},
        {"r45as25", 45, 25},
        {"r45as45", 45, 45},
        {"r45as75", 45, 75},
        {"r45as110", 45, 110},
    }};
