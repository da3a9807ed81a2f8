// ExrCodec: EXR file images to and from Image.
//
// EncodeExr writes a single-part scanline EXR with three half-float channels
// B, G, R (the order EXR readers expect: sorted by name), ZIP compression (16
// lines per block) and data and display window (0, 0)–(width-1, height-1).
// OpenEXR's own tools read the result.
//
// DecodeExr reads the files EncodeExr writes and other plain RGB files, and is
// built for untrusted bytes: it never reads outside the given bytes, never
// throws, and rejects rather than guesses. Accepted: single-part scanline
// images (no tiles, no deep data) with channels R, G and B of half or float
// type (other channels are read and dropped), compression none, RLE, ZIPS or
// ZIP, at most kMaxImageSide per side and kMaxImagePixels pixels, at most
// 16 channels, a decoding footprint within a fixed memory budget (1 GiB on
// 64-bit hosts, 256 MiB on 32-bit ones), and an offset table whose every entry
// points inside the bytes at the block it names, so every row is decoded once.
//
// Threads: no shared state; calls on different data may run concurrently.
// EncodeExr starts threads of its own for a large image and joins them
// before it returns.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "colour/Image.h"

namespace colour {

// EXR bytes of `width` x `height` pixels given as interleaved linear RGB
// floats (layout of Image). Values are rounded to half precision; NaN becomes
// 0 and magnitudes beyond the half range (65504) are clamped to it, so the
// file holds no infinities or NaNs. Returns an empty vector when the
// dimensions are out of range (see Image::Valid), when rgb.size() is not
// 3 * width * height, or when memory runs out. A large image is compressed
// in bands of rows on several threads (as many as the machine has cores);
// the bytes are the same as those of one encoding of all rows.
std::vector<std::uint8_t> EncodeExr(std::span<const float> rgb, int width, int height);

// EncodeExr with the rows split into `bands` bands (at most one per ZIP block
// of 16 rows), each compressed on a thread of its own; 1 encodes all rows in
// one go on the calling thread. The result does not depend on `bands`.
std::vector<std::uint8_t> EncodeExrInBands(std::span<const float> rgb, int width, int height,
                                           int bands);

// EncodeExr of an Image; empty for an invalid one.
std::vector<std::uint8_t> EncodeExr(const Image& image);

// Decodes `bytes` into `out`. On success returns true and `out` is a valid
// image with the file's R, G, B values as floats (top row first). On any
// failure (not an EXR, an unsupported feature, corrupt or truncated data,
// limits exceeded, memory exhausted) returns false and `out` is the empty
// image. Pixel values are passed on as stored, including any NaN or infinity.
bool DecodeExr(std::span<const std::uint8_t> bytes, Image& out);

}  // namespace colour
