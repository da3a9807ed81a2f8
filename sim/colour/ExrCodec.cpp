// The one translation unit that compiles tinyexr (zlib for ZIP, no miniz).
#include "sim/colour/ExrCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#define TINYEXR_USE_MINIZ 0
#define TINYEXR_USE_PIZ 0
#define TINYEXR_USE_THREAD 0
#define TINYEXR_USE_OPENMP 0
#define TINYEXR_IMPLEMENTATION
#include <zlib.h>

// tinyexr asserts on some malformed headers instead of returning an error.
// Its asserts are compiled out in release builds; they are compiled out in
// every build here so that a debug or sanitizer build takes the same path on
// untrusted bytes (every such case is rejected by the checks below or by
// tinyexr's own error returns) instead of aborting.
#ifndef NDEBUG
#define NDEBUG
#define COLOUR_RESTORE_ASSERT
#endif
#include <cassert>

#include "tinyexr.h"

#ifdef COLOUR_RESTORE_ASSERT
#undef NDEBUG
#undef COLOUR_RESTORE_ASSERT
#include <cassert>
#endif

namespace colour {
namespace {

constexpr float kHalfMax = 65504.0f;
constexpr int kMaxChannels = 16;
// Bytes tinyexr may allocate for the decoded planes (4 bytes per value).
constexpr std::uint64_t kDecodeBudget = sizeof(void*) >= 8 ? (1ull << 30) : (256ull << 20);

// Frees a tinyexr error text and forgets it, so that the variable can be
// passed to the next call.
void FreeError(const char*& err) {
  if (err != nullptr) FreeEXRErrorMessage(err);
  err = nullptr;
}

// Owns a parsed header; tinyexr leaves allocations in it even when parsing
// fails, so it is freed on every path.
struct HeaderGuard {
  EXRHeader header;
  HeaderGuard() { InitEXRHeader(&header); }
  ~HeaderGuard() { FreeEXRHeader(&header); }
  HeaderGuard(const HeaderGuard&) = delete;
  HeaderGuard& operator=(const HeaderGuard&) = delete;
};

float ToHalfRange(float v) {
  if (std::isnan(v)) return 0.0f;
  return std::clamp(v, -kHalfMax, kHalfMax);
}

std::uint64_t ReadU64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::int32_t ReadI32(const std::uint8_t* p) {
  const std::uint32_t v =
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return static_cast<std::int32_t>(v);
}

int LinesPerBlock(int compression) { return compression == TINYEXR_COMPRESSIONTYPE_ZIP ? 16 : 1; }

// Every offset-table entry must point, inside the bytes, at the block that
// starts at its own row, with a size that fits. tinyexr would otherwise
// rebuild a broken table by guessing, or decode two blocks into the same rows
// and leave others unwritten.
bool OffsetTableIsSound(std::span<const std::uint8_t> bytes, const EXRHeader& h,
                        std::int64_t blocks) {
  const std::uint64_t size = bytes.size();
  const std::uint64_t table = 8ull + h.header_len;
  const std::uint64_t tableEnd = table + 8ull * static_cast<std::uint64_t>(blocks);
  if (tableEnd > size) return false;
  const std::int64_t lines = LinesPerBlock(h.compression_type);
  for (std::int64_t i = 0; i < blocks; ++i) {
    const std::uint64_t offset = ReadU64(bytes.data() + table + 8 * i);
    if (offset < tableEnd || offset > size || size - offset < 8) return false;
    const std::int64_t y = ReadI32(bytes.data() + offset);
    const std::int64_t dataSize = ReadI32(bytes.data() + offset + 4);
    if (y != static_cast<std::int64_t>(h.data_window.min_y) + i * lines) return false;
    if (dataSize < 0 || static_cast<std::uint64_t>(dataSize) > size - offset - 8) return false;
  }
  return true;
}

bool DecodeUnchecked(std::span<const std::uint8_t> bytes, Image& out) {
  if (bytes.size() < 8) return false;
  EXRVersion version;
  if (ParseEXRVersionFromMemory(&version, bytes.data(), bytes.size()) != TINYEXR_SUCCESS) {
    return false;
  }
  if (version.tiled || version.multipart || version.non_image) return false;

  HeaderGuard guard;
  EXRHeader& h = guard.header;
  const char* err = nullptr;
  const int parsed = ParseEXRHeaderFromMemory(&h, &version, bytes.data(), bytes.size(), &err);
  FreeError(err);
  if (parsed != TINYEXR_SUCCESS || h.tiled || h.header_len == 0) return false;

  switch (h.compression_type) {
    case TINYEXR_COMPRESSIONTYPE_NONE:
    case TINYEXR_COMPRESSIONTYPE_RLE:
    case TINYEXR_COMPRESSIONTYPE_ZIPS:
    case TINYEXR_COMPRESSIONTYPE_ZIP:
      break;
    default:
      return false;
  }
  const std::int64_t width =
      static_cast<std::int64_t>(h.data_window.max_x) - h.data_window.min_x + 1;
  const std::int64_t height =
      static_cast<std::int64_t>(h.data_window.max_y) - h.data_window.min_y + 1;
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return false;
  const std::uint64_t pixels = static_cast<std::uint64_t>(width * height);
  if (pixels > kMaxImagePixels) return false;
  if (h.num_channels < 1 || h.num_channels > kMaxChannels || h.channels == nullptr) return false;
  if (pixels * static_cast<std::uint64_t>(h.num_channels) * 4 > kDecodeBudget) return false;

  int index[3] = {-1, -1, -1};
  const char* names[3] = {"R", "G", "B"};
  for (int c = 0; c < h.num_channels; ++c) {
    const EXRChannelInfo& ch = h.channels[c];
    if (ch.x_sampling != 1 || ch.y_sampling != 1) return false;
    const int type = h.pixel_types[c];
    if (type != TINYEXR_PIXELTYPE_HALF && type != TINYEXR_PIXELTYPE_FLOAT &&
        type != TINYEXR_PIXELTYPE_UINT) {
      return false;
    }
    // Half planes arrive as float so that every colour plane has one layout.
    h.requested_pixel_types[c] = type == TINYEXR_PIXELTYPE_HALF ? TINYEXR_PIXELTYPE_FLOAT : type;
    for (int k = 0; k < 3; ++k) {
      if (std::strncmp(ch.name, names[k], sizeof(ch.name)) == 0) index[k] = c;
    }
  }
  for (int k = 0; k < 3; ++k) {
    if (index[k] < 0 || h.pixel_types[index[k]] == TINYEXR_PIXELTYPE_UINT) return false;
  }

  const std::int64_t lines = LinesPerBlock(h.compression_type);
  const std::int64_t blocks = (height + lines - 1) / lines;
  if (h.chunk_count > 0 && h.chunk_count != blocks) return false;
  if (!OffsetTableIsSound(bytes, h, blocks)) return false;

  EXRImage image;
  InitEXRImage(&image);
  // On a decode error tinyexr frees the planes it allocated, but only as many
  // as the image's channel count names, which it sets on success only. Naming
  // it beforehand makes that clean-up complete. After an error the planes are
  // freed (their pointers dangle), so they must not be freed again here.
  image.num_channels = h.num_channels;
  const int loaded = LoadEXRImageFromMemory(&image, &h, bytes.data(), bytes.size(), &err);
  FreeError(err);
  if (loaded != TINYEXR_SUCCESS) return false;

  bool ok = image.images != nullptr && image.width == width && image.height == height &&
            image.num_channels == h.num_channels;
  for (int k = 0; ok && k < 3; ++k) ok = image.images[index[k]] != nullptr;
  if (ok) {
    try {
      out.rgb.resize(3 * pixels);
      for (int k = 0; k < 3; ++k) {
        const float* plane = reinterpret_cast<const float*>(image.images[index[k]]);
        for (std::uint64_t p = 0; p < pixels; ++p) out.rgb[3 * p + k] = plane[p];
      }
      out.width = static_cast<int>(width);
      out.height = static_cast<int>(height);
    } catch (...) {
      ok = false;
    }
  }
  FreeEXRImage(&image);
  return ok;
}

}  // namespace

std::vector<std::uint8_t> EncodeExr(std::span<const float> rgb, int width, int height) {
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return {};
  const std::uint64_t pixels =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (pixels > kMaxImagePixels || rgb.size() != 3 * pixels) return {};
  try {
    // Planes in file order B, G, R.
    std::vector<float> planes[3];
    for (auto& plane : planes) plane.resize(pixels);
    for (std::uint64_t p = 0; p < pixels; ++p) {
      planes[0][p] = ToHalfRange(rgb[3 * p + 2]);
      planes[1][p] = ToHalfRange(rgb[3 * p + 1]);
      planes[2][p] = ToHalfRange(rgb[3 * p]);
    }
    unsigned char* planePointers[3] = {reinterpret_cast<unsigned char*>(planes[0].data()),
                                       reinterpret_cast<unsigned char*>(planes[1].data()),
                                       reinterpret_cast<unsigned char*>(planes[2].data())};
    EXRImage image;
    InitEXRImage(&image);
    image.images = planePointers;
    image.width = width;
    image.height = height;
    image.num_channels = 3;

    EXRHeader header;
    InitEXRHeader(&header);
    EXRChannelInfo channels[3] = {};
    int pixelTypes[3];
    int requestedTypes[3];
    const char* names[3] = {"B", "G", "R"};
    for (int c = 0; c < 3; ++c) {
      channels[c].name[0] = names[c][0];
      channels[c].x_sampling = 1;
      channels[c].y_sampling = 1;
      pixelTypes[c] = TINYEXR_PIXELTYPE_FLOAT;
      requestedTypes[c] = TINYEXR_PIXELTYPE_HALF;
    }
    header.num_channels = 3;
    header.channels = channels;
    header.pixel_types = pixelTypes;
    header.requested_pixel_types = requestedTypes;
    header.compression_type = TINYEXR_COMPRESSIONTYPE_ZIP;

    unsigned char* memory = nullptr;
    const char* err = nullptr;
    const std::size_t size = SaveEXRImageToMemory(&image, &header, &memory, &err);
    FreeError(err);
    // The header borrows stack arrays: it is not passed to FreeEXRHeader.
    if (size == 0 || memory == nullptr) {
      std::free(memory);
      return {};
    }
    std::vector<std::uint8_t> bytes;
    try {
      bytes.assign(memory, memory + size);
    } catch (...) {
      std::free(memory);
      return {};
    }
    std::free(memory);
    return bytes;
  } catch (...) {
    return {};
  }
}

std::vector<std::uint8_t> EncodeExr(const Image& image) {
  if (!image.Valid()) return {};
  return EncodeExr(image.rgb, image.width, image.height);
}

bool DecodeExr(std::span<const std::uint8_t> bytes, Image& out) {
  out = Image{};
  bool ok = false;
  try {
    ok = DecodeUnchecked(bytes, out);
  } catch (...) {
    ok = false;
  }
  if (!ok) out = Image{};
  return ok;
}

}  // namespace colour
