// SampleMaker: what the instrument records when it measures one sample: the
// reflectance of every geometry (PaintModel), its L*a*b* (D65, 10 degree
// observer) and an EXR image of the effect texture for the image geometries.
//
// Threads: pure function (allocates); may run on any thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "sim/instrument/JobRecord.h"

namespace instrument {

// Measures sample `sampleIndex` of the job `jobId` whose make is `make`, with
// square images of `imagePx` pixels (kMinImagePx..kMaxImagePx; other values
// give empty images). `measuredAtMs` is recorded as the time of measurement.
// Deterministic except for that time. Returns null only when memory runs out.
SamplePtr MakeSample(std::string_view jobId, std::string_view make, int sampleIndex, int imagePx,
                     std::int64_t measuredAtMs);

}  // namespace instrument
