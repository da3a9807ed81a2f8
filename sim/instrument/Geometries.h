// The fixed order in which the virtual instrument delivers a sample's
// contents: spectral contents for all eleven geometries in the order of
// kMeasurementGeometries (messages/MeasurementGeometry.h, the product's one
// table of names and angles); image contents for the six of kImageGeometries,
// in that order.
//
// Threads: constants only.
#pragma once

#include <array>
#include <cstddef>

#include "messages/MeasurementGeometry.h"

namespace instrument {

inline constexpr std::size_t kGeometryCount = kMeasurementGeometries.size();
inline constexpr std::size_t kImageCount = 6;
inline constexpr std::size_t kSpectrumSize = 31;  // 400..700 nm in 10 nm steps

// Indices into kMeasurementGeometries of the geometries that also deliver an image.
inline constexpr std::array<std::size_t, kImageCount> kImageGeometries = {2, 3, 4, 5, 6, 8};

}  // namespace instrument
