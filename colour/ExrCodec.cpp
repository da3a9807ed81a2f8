// The one translation unit that compiles tinyexr (zlib for ZIP, no miniz).
#include "colour/ExrCodec.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <thread>

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

constexpr int kZipLines = 16;  // rows per ZIP block
// A band of an image encoded on a thread of its own should hold at least
// this many blocks: fewer are not worth a thread.
constexpr int kMinBlocksPerBand = 8;
constexpr int kMaxBands = 16;

// Rows [firstRow, firstRow + rows) of the planes, encoded as an image of
// their own (one thread). Empty on failure; may throw std::bad_alloc.
std::vector<std::uint8_t> EncodeRows(const std::array<std::vector<float>, 3>& planes, int width,
                                     int firstRow, int rows) {
  const std::size_t skip = static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(width);
  unsigned char* planePointers[3];
  for (int c = 0; c < 3; ++c) {
    planePointers[c] =
        reinterpret_cast<unsigned char*>(const_cast<float*>(planes[c].data() + skip));
  }
  EXRImage image;
  InitEXRImage(&image);
  image.images = planePointers;
  image.width = width;
  image.height = rows;
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
    throw;
  }
  std::free(memory);
  return bytes;
}

// One band of rows and its encoding as an image of its own.
struct Band {
  int firstRow = 0;
  int rows = 0;
  std::vector<std::uint8_t> bytes;
};

void WriteU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void WriteU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Length of the header of an encoded single-part scanline file (magic,
// version, attributes, the terminating zero byte); 0 when malformed.
std::size_t HeaderLength(const std::vector<std::uint8_t>& file) {
  std::size_t at = 8;
  while (at < file.size() && file[at] != 0) {
    for (int text = 0; text < 2; ++text) {  // name and type
      while (at < file.size() && file[at] != 0) ++at;
      ++at;
    }
    if (at + 4 > file.size()) return 0;
    const std::uint32_t size = static_cast<std::uint32_t>(ReadI32(file.data() + at));
    if (size > file.size() - at - 4) return 0;
    at += 4 + size;
  }
  return at < file.size() ? at + 1 : 0;
}

// Sets the last row (max_y) of the box2i attribute `name` in the header.
bool SetLastRow(std::vector<std::uint8_t>& header, const std::string& name, int lastRow) {
  const std::string key = name + std::string(1, '\0') + "box2i" + std::string(1, '\0');
  const auto it = std::search(header.begin(), header.end(), key.begin(), key.end());
  const std::size_t at = static_cast<std::size_t>(it - header.begin()) + key.size() + 4 + 12;
  if (it == header.end() || at + 4 > header.size()) return false;
  WriteU32(header.data() + at, static_cast<std::uint32_t>(lastRow));
  return true;
}

// Joins bands encoded as images of their own into the file of the whole
// image, exactly as one encoding of all rows would have written it: the
// header (its windows spanning all rows), one offset table, and the blocks
// with their first rows counted from the top of the whole image. The ZIP
// data of a block depends on its own rows alone, so it is taken as it is.
std::vector<std::uint8_t> Stitch(const std::vector<Band>& bands, int height) {
  struct Block {
    const std::uint8_t* data;  // the block's data, after its row and size
    std::uint32_t size;
    int firstRow;
  };
  std::vector<Block> blocks;
  std::vector<std::uint8_t> header;
  for (const Band& band : bands) {
    const std::vector<std::uint8_t>& file = band.bytes;
    const std::size_t headerLength = HeaderLength(file);
    if (headerLength == 0) return {};
    const std::size_t count = static_cast<std::size_t>((band.rows + kZipLines - 1) / kZipLines);
    if (header.empty()) header.assign(file.begin(), file.begin() + headerLength);
    std::size_t at = headerLength + 8 * count;
    for (std::size_t i = 0; i < count; ++i) {
      if (at + 8 > file.size()) return {};
      const std::int32_t row = ReadI32(file.data() + at);
      const auto size = static_cast<std::uint32_t>(ReadI32(file.data() + at + 4));
      if (row != static_cast<std::int32_t>(i) * kZipLines || size > file.size() - at - 8) {
        return {};
      }
      blocks.push_back({file.data() + at + 8, size, band.firstRow + row});
      at += 8 + size;
    }
  }
  if (!SetLastRow(header, "dataWindow", height - 1) ||
      !SetLastRow(header, "displayWindow", height - 1)) {
    return {};
  }
  std::size_t total = header.size() + 8 * blocks.size();
  for (const Block& block : blocks) total += 8 + block.size;
  std::vector<std::uint8_t> out(total);
  std::memcpy(out.data(), header.data(), header.size());
  std::uint64_t offset = header.size() + 8 * blocks.size();
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    WriteU64(out.data() + header.size() + 8 * i, offset);
    std::uint8_t* at = out.data() + offset;
    WriteU32(at, static_cast<std::uint32_t>(blocks[i].firstRow));
    WriteU32(at + 4, blocks[i].size);
    std::memcpy(at + 8, blocks[i].data, blocks[i].size);
    offset += 8 + blocks[i].size;
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> EncodeExr(std::span<const float> rgb, int width, int height) {
  if (width <= 0 || height <= 0) return {};
  const int blocks = (height + kZipLines - 1) / kZipLines;
  const int cpus = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  return EncodeExrInBands(rgb, width, height,
                          std::clamp(blocks / kMinBlocksPerBand, 1, std::min(cpus, kMaxBands)));
}

std::vector<std::uint8_t> EncodeExrInBands(std::span<const float> rgb, int width, int height,
                                           int bands) {
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return {};
  const std::uint64_t pixels =
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (pixels > kMaxImagePixels || rgb.size() != 3 * pixels) return {};
  try {
    // Planes in file order B, G, R.
    std::array<std::vector<float>, 3> planes;
    for (auto& plane : planes) plane.resize(pixels);
    for (std::uint64_t p = 0; p < pixels; ++p) {
      planes[0][p] = ToHalfRange(rgb[3 * p + 2]);
      planes[1][p] = ToHalfRange(rgb[3 * p + 1]);
      planes[2][p] = ToHalfRange(rgb[3 * p]);
    }
    const int blocks = (height + kZipLines - 1) / kZipLines;
    bands = std::clamp(bands, 1, blocks);
    if (bands == 1) return EncodeRows(planes, width, 0, height);

    // Band b holds the blocks [b * blocks / bands, (b + 1) * blocks / bands).
    std::vector<Band> parts(static_cast<std::size_t>(bands));
    for (int b = 0; b < bands; ++b) {
      parts[b].firstRow = kZipLines * (b * blocks / bands);
      parts[b].rows = std::min(height, kZipLines * ((b + 1) * blocks / bands)) - parts[b].firstRow;
    }
    auto encode = [&](Band& band) {
      try {
        band.bytes = EncodeRows(planes, width, band.firstRow, band.rows);
      } catch (...) {
        band.bytes.clear();
      }
    };
    // The first band on this thread, the others on threads of their own; a
    // band whose thread cannot be started is encoded here afterwards.
    std::vector<std::thread> workers;
    std::vector<Band*> leftOver;
    for (int b = 1; b < bands; ++b) {
      try {
        workers.emplace_back(encode, std::ref(parts[b]));
      } catch (...) {
        leftOver.push_back(&parts[b]);
      }
    }
    encode(parts[0]);
    for (std::thread& worker : workers) worker.join();
    for (Band* band : leftOver) encode(*band);
    return Stitch(parts, height);
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
