// The measurement geometries of the virtual instrument and the fixed order in
// which a sample's contents are delivered.
//
// A geometry name "r<I>as<A>" is the illumination angle I from the normal and
// the aspecular angle A of the detector (angle from the specular direction;
// negative values lie on the illumination side). Spectral contents come for
// all eleven geometries in kGeometryNames order; image contents for the six of
// kImageGeometries, in that order.
//
// Threads: constants only.
#pragma once

#include <array>
#include <cstddef>

namespace instrument {

inline constexpr std::size_t kGeometryCount = 11;
inline constexpr std::size_t kImageCount = 6;
inline constexpr std::size_t kSpectrumSize = 31;  // 400..700 nm in 10 nm steps

inline constexpr std::array<const char*, kGeometryCount> kGeometryNames = {
    "r15as-45", "r15as-15", "r15as15", "r15as45", "r15as80", "r45as-15",
    "r45as15",  "r45as25",  "r45as45", "r45as75", "r45as110"};

inline constexpr std::array<int, kGeometryCount> kIlluminationAngles = {15, 15, 15, 15, 15, 45,
                                                                        45, 45, 45, 45, 45};
inline constexpr std::array<int, kGeometryCount> kAspecularAngles = {-45, -15, 15, 45, 80, -15,
                                                                     15,  25,  45, 75, 110};

// Indices into kGeometryNames of the geometries that also deliver an image.
inline constexpr std::array<std::size_t, kImageCount> kImageGeometries = {2, 3, 4, 5, 6, 8};

}  // namespace instrument
