// PaintModel: the reflectance spectra the virtual instrument measures.
//
// A job's make chooses a paint (a base colour, how strongly it is metallic,
// how much its hue travels with the angle). The reflectance of a geometry is
// the paint's spectral shape times an angular gain that is high near the
// specular direction and falls towards the flop, as effect paints do; a small
// seeded noise per sample and per geometry makes repeated samples differ a
// little. Everything is deterministic: the same (job identifier, make, sample
// index, geometry) always gives the same 31 values.
//
// Threads: pure functions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/instrument/Geometries.h"

namespace instrument {

using Reflectance = std::array<float, kSpectrumSize>;

// The paint a make stands for.
struct Paint {
  double floor = 0.0;     // reflectance away from the colour band
  double peak = 0.0;      // reflectance at the band centre
  double centreNm = 0.0;  // centre of the colour band
  double widthNm = 0.0;   // width of the colour band (1/e half width)
  double metallic = 0.0;  // 0 solid .. 1 strongly flake-dominated
  double travelNm = 0.0;  // shift of the band centre from near-specular to flop
};

// 64-bit FNV-1a of the bytes; the seed of every choice the model makes.
std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed = 0xcbf29ce484222325ull);

// The paint of a make (any bytes; the empty make is a paint like any other).
Paint PaintForMake(std::string_view make);

// Noise-free reflectance of `paint` at geometry `geometry` (index into
// kGeometryNames; must be below kGeometryCount).
Reflectance PaintReflectance(const Paint& paint, std::size_t geometry);

// The reflectance measured for sample `sampleIndex` of job `jobId` whose make
// is `make`, at geometry `geometry` (below kGeometryCount): PaintReflectance
// with a deterministic noise of about 1 % per sample and 0.2 % per value.
Reflectance MeasuredReflectance(std::string_view jobId, std::string_view make, int sampleIndex,
                                std::size_t geometry);

}  // namespace instrument
