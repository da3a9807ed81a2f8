// EXR file images as the foreign device module makes and corrects them:
// single-part scanline files, no compression, 32-bit float channels.
//
// Threads: pure functions over caller-owned buffers.
#pragma once

#include "foreign/ForeignContract.h"

namespace foreign {

// Writes the image of `geometry` in `sample` of the job with `key` (pixel
// values from foreign_values::Pixel, channels B, G, R) into out[0, capacity).
// Returns the file's size, or 0 when it does not fit.
u32 WriteImage(u8* out, u32 capacity, u32 key, i32 sample, i32 geometry);

// Multiplies the R, G and B values of the file in bytes[0, size) by `gain`,
// in place. Accepts uncompressed single-part scanline files whose channels
// are all 32-bit floats, at most 64 pixels per side; checks every offset and
// size against `size` before it reads. False (and the bytes unchanged) for
// anything else.
bool ScaleImage(u8* bytes, u32 size, float gain);

}  // namespace foreign
