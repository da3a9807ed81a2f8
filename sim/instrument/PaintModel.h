// PaintModel: the reflectance spectra the virtual instrument measures.
//
// A job's make chooses a paint (PaintCatalogue.h): a body colour and a kind.
// The reflectance of a geometry is the body colour times an angular gain:
// nearly flat for a solid paint; for a metallic one high near the specular
// direction and falling steeply towards the flop, as aluminium flakes do; for
// a pearl a softer fall with an interference tint whose hue travels with the
// angle. Each job is a batch of its make: a small deterministic offset per
// job identifier (lightness, hue, flake share) makes two jobs of one make
// differ by a ΔE00 of a few tenths to about 2, and a much smaller noise per
// sample and per geometry makes repeated samples of one job differ a little.
// Everything is deterministic: the same (job identifier, make, sample index,
// geometry) always gives the same 31 values.
//
// Threads: pure functions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/instrument/Geometries.h"
#include "sim/instrument/PaintCatalogue.h"

namespace instrument {

using Reflectance = std::array<float, kSpectrumSize>;

// The paint a make stands for.
struct Paint {
  BodyColour body;
  PaintKind kind = PaintKind::kSolid;
  double lightness = 1.0;  // factor on the whole reflectance
  double flakes = 0.0;     // share of the angular gain that comes from the effect pigment
  double travelNm = 0.0;   // pearl: shift of the body colour from near-specular to flop
  double tint = 0.0;       // pearl: amplitude of the interference tint
  double tilt = 0.0;       // relative slope of the body colour per 150 nm (a batch's cast)
  // 0 solid .. 1 strongly flake-dominated: how much the images sparkle.
  double metallic = 0.0;
};

// 64-bit FNV-1a of the bytes; the seed of every choice the model makes.
std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed = 0xcbf29ce484222325ull);

// The paint of a make (any bytes; the empty make is a paint like any other),
// with a small shade of its own per make.
Paint PaintForMake(std::string_view make);

// The batch of `make` that job `jobId` stands for: PaintForMake with the
// job's own small offset.
Paint PaintForJob(std::string_view jobId, std::string_view make);

// Noise-free reflectance of `paint` at geometry `geometry` (index into
// kMeasurementGeometries; all zero when it is not below kGeometryCount).
Reflectance PaintReflectance(const Paint& paint, std::size_t geometry);

// The reflectance measured for sample `sampleIndex` of job `jobId` whose make
// is `make`, at geometry `geometry` (below kGeometryCount): the job's paint
// with a deterministic noise of about 0.15 % per sample and 0.05 % per value.
Reflectance MeasuredReflectance(std::string_view jobId, std::string_view make, int sampleIndex,
                                std::size_t geometry);

}  // namespace instrument
