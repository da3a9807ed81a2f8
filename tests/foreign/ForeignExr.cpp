#include "foreign/ForeignExr.h"

#include "foreign/ForeignText.h"
#include "foreign/ForeignValues.h"

namespace foreign {
namespace {

constexpr u32 kPixelTypeFloat = 2;
constexpr i32 kMaxSide = 64;
constexpr u32 kMaxChannels = 8;

// Sequential little-endian writer over a fixed buffer; `ok` turns false once
// something did not fit, and nothing is written after that.
struct Writer {
  u8* out;
  u32 capacity;
  u32 size = 0;
  bool ok = true;

  void Byte(u8 b) {
    if (size >= capacity) {
      ok = false;
      return;
    }
    out[size++] = b;
  }
  void U32(u32 v) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<u8>(v >> (8 * i)));
  }
  void I32(i32 v) { U32(static_cast<u32>(v)); }
  void F32(float v) { U32(__builtin_bit_cast(u32, v)); }
  void Text(const char* text) {  // with its terminator
    for (; *text != '\0'; ++text) Byte(static_cast<u8>(*text));
    Byte(0);
  }
  void Attribute(const char* name, const char* type, u32 valueSize) {
    Text(name);
    Text(type);
    U32(valueSize);
  }
};

// Bounds-checked little-endian reader.
struct Reader {
  const u8* in;
  u32 size;
  u32 at = 0;
  bool ok = true;

  bool Has(u32 count) const { return ok && count <= size && at <= size - count; }
  u32 U32() {
    if (!Has(4)) {
      ok = false;
      return 0;
    }
    u32 v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<u32>(in[at + i]) << (8 * i);
    at += 4;
    return v;
  }
  i32 I32() { return static_cast<i32>(U32()); }
  // A terminated text of 1..255 bytes (an empty one ends a list); returns its
  // start, or null when it runs past the end.
  const char* Text(u32* length) {
    const u32 start = at;
    while (at < size && in[at] != 0) {
      if (at - start >= 255) {
        ok = false;
        return nullptr;
      }
      ++at;
    }
    if (at >= size) {
      ok = false;
      return nullptr;
    }
    *length = at - start;
    ++at;
    return reinterpret_cast<const char*>(in + start);
  }
  void Skip(u32 count) {
    if (!Has(count)) {
      ok = false;
      return;
    }
    at += count;
  }
};

}  // namespace

u32 WriteImage(u8* out, u32 capacity, u32 key, i32 sample, i32 geometry) {
  using foreign_values::kImageSide;
  const char* const names[3] = {"B", "G", "R"};  // sorted, as EXR wants them
  const int channelOf[3] = {2, 1, 0};            // B, G, R -> Pixel's 0 R, 1 G, 2 B
  Writer w{out, capacity};
  w.U32(20000630);  // magic
  w.U32(2);         // version 2, single-part scanline
  w.Attribute("channels", "chlist", 3 * 18 + 1);
  for (const char* name : names) {
    w.Text(name);
    w.U32(kPixelTypeFloat);
    w.U32(0);  // pLinear and three reserved bytes
    w.I32(1);  // x sampling
    w.I32(1);  // y sampling
  }
  w.Byte(0);
  w.Attribute("compression", "compression", 1);
  w.Byte(0);  // none
  const char* const windows[2] = {"dataWindow", "displayWindow"};
  for (const char* window : windows) {
    w.Attribute(window, "box2i", 16);
    w.I32(0);
    w.I32(0);
    w.I32(kImageSide - 1);
    w.I32(kImageSide - 1);
  }
  w.Attribute("lineOrder", "lineOrder", 1);
  w.Byte(0);  // increasing y
  w.Attribute("pixelAspectRatio", "float", 4);
  w.F32(1.0f);
  w.Attribute("screenWindowCenter", "v2f", 8);
  w.F32(0.0f);
  w.F32(0.0f);
  w.Attribute("screenWindowWidth", "float", 4);
  w.F32(1.0f);
  w.Byte(0);  // end of header

  // One scanline per block: offsets table, then the blocks.
  const u32 blockSize = 8 + 3 * kImageSide * 4;
  const u32 firstBlock = w.size + 8 * kImageSide;
  for (int y = 0; y < kImageSide; ++y) {
    w.U32(firstBlock + static_cast<u32>(y) * blockSize);
    w.U32(0);  // high half of the 64-bit offset
  }
  for (int y = 0; y < kImageSide; ++y) {
    w.I32(y);
    w.U32(3 * kImageSide * 4);
    for (int c = 0; c < 3; ++c) {
      for (int x = 0; x < kImageSide; ++x) {
        w.F32(foreign_values::Pixel(key, sample, geometry, x, y, channelOf[c]));
      }
    }
  }
  return w.ok ? w.size : 0;
}

bool ScaleImage(u8* bytes, u32 size, float gain) {
  Reader r{bytes, size};
  if (r.U32() != 20000630) return false;
  // Version 2; no tiles (bit 9), no deep data (bit 11), no multipart (bit 12).
  const u32 version = r.U32();
  if ((version & 0xFF) != 2 || (version & ((1u << 9) | (1u << 11) | (1u << 12))) != 0) return false;

  bool scaled[kMaxChannels] = {};
  u32 channels = 0;
  bool haveChannels = false;
  bool uncompressed = false;
  i32 box[4] = {0, 0, -1, -1};
  bool haveWindow = false;
  for (;;) {
    u32 nameLength = 0;
    const char* name = r.Text(&nameLength);
    if (name == nullptr) return false;
    if (nameLength == 0) break;
    u32 typeLength = 0;
    if (r.Text(&typeLength) == nullptr) return false;
    const u32 valueSize = r.U32();
    if (!r.Has(valueSize)) return false;
    const u32 valueEnd = r.at + valueSize;
    if (Equal(name, "channels")) {
      haveChannels = true;
      for (;;) {
        u32 channelLength = 0;
        const char* channel = r.Text(&channelLength);
        if (channel == nullptr || r.at > valueEnd) return false;
        if (channelLength == 0) break;
        if (channels == kMaxChannels) return false;
        if (r.U32() != kPixelTypeFloat) return false;
        r.Skip(4);
        if (r.I32() != 1 || r.I32() != 1 || !r.ok) return false;
        scaled[channels++] = Equal(channel, "R") || Equal(channel, "G") || Equal(channel, "B");
      }
    } else if (Equal(name, "compression")) {
      uncompressed = valueSize == 1 && bytes[r.at] == 0;
    } else if (Equal(name, "dataWindow") && valueSize == 16) {
      for (i32& v : box) v = r.I32();
      haveWindow = true;
    }
    if (!r.ok || r.at > valueEnd) return false;
    r.at = valueEnd;
  }
  if (!haveChannels || channels == 0 || !uncompressed || !haveWindow) return false;
  // Window sides of 1..kMaxSide; the bounds keep the subtraction in range.
  for (const i32 v : box) {
    if (v < -kMaxSide || v > 2 * kMaxSide) return false;
  }
  const i32 width = box[2] - box[0] + 1;
  const i32 height = box[3] - box[1] + 1;
  if (box[2] < box[0] || box[3] < box[1] || width > kMaxSide || height > kMaxSide) return false;

  const u32 rowBytes = channels * static_cast<u32>(width) * 4;
  const u32 tableAt = r.at;
  if (!r.Has(8 * static_cast<u32>(height))) return false;
  // Check every block before changing any, so a bad file stays untouched.
  for (int pass = 0; pass < 2; ++pass) {
    r.at = tableAt;
    for (i32 line = 0; line < height; ++line) {
      const u32 offset = r.U32();
      if (r.U32() != 0) return false;
      Reader block{bytes, size, offset};
      const i32 y = block.I32();
      if (block.U32() != rowBytes || !block.Has(rowBytes)) return false;
      if (y < box[1] || y > box[3]) return false;
      if (pass == 0) continue;
      u8* data = bytes + block.at;
      for (u32 c = 0; c < channels; ++c) {
        if (!scaled[c]) continue;
        for (i32 x = 0; x < width; ++x) {
          u8* p = data + (c * static_cast<u32>(width) + static_cast<u32>(x)) * 4;
          u32 bits = static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 |
                     static_cast<u32>(p[2]) << 16 | static_cast<u32>(p[3]) << 24;
          bits = __builtin_bit_cast(u32, __builtin_bit_cast(float, bits) * gain);
          for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(bits >> (8 * i));
        }
      }
    }
  }
  return true;
}

}  // namespace foreign
