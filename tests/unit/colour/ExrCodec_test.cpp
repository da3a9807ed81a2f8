#include "colour/ExrCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "sim/instrument/SparkleImage.h"
#include "tinyexr.h"

namespace colour {
namespace {

// Sparkle textures of the virtual instrument: images that compress like the
// ones the driver carries.
using instrument::kDefaultImageSize;
using instrument::MakeSparkleImage;

Image TestImage(int width, int height) {
  Image image;
  image.width = width;
  image.height = height;
  image.rgb.resize(3u * width * height);
  // Distinct values per channel, row and column, so that swapped channels,
  // transposed rows or a lost block show up.
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float* p = &image.rgb[3u * (y * width + x)];
      p[0] = 0.01f * x + 0.5f;
      p[1] = 0.02f * y;
      p[2] = 0.001f * (x * y) - 0.25f;
    }
  }
  return image;
}

void ExpectNearHalf(const Image& expected, const Image& actual) {
  ASSERT_EQ(actual.width, expected.width);
  ASSERT_EQ(actual.height, expected.height);
  ASSERT_EQ(actual.rgb.size(), expected.rgb.size());
  std::size_t bad = 0;
  for (std::size_t i = 0; i < expected.rgb.size(); ++i) {
    const float e = expected.rgb[i];
    // Half precision: 11 significant bits; below 2^-14 a fixed step.
    if (std::fabs(actual.rgb[i] - e) > std::fabs(e) * 1e-3f + 1e-6f) ++bad;
  }
  EXPECT_EQ(bad, 0u);
}

// Offset of the four int32 values of the dataWindow attribute.
std::size_t DataWindowOffset(const std::vector<std::uint8_t>& bytes) {
  static const char key[] = "dataWindow\0box2i";
  const auto it = std::search(bytes.begin(), bytes.end(), key, key + sizeof(key));
  EXPECT_NE(it, bytes.end());
  return static_cast<std::size_t>(it - bytes.begin()) + sizeof(key) + 4;
}

void PutI32(std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

// Offset of the line-offset table of a file with `blocks` blocks: the first
// entry points just past the table.
std::size_t OffsetTableOffset(const std::vector<std::uint8_t>& bytes, std::size_t blocks) {
  for (std::size_t at = 8; at + 8 <= bytes.size(); ++at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | bytes[at + i];
    if (v == at + 8 * blocks) return at;
  }
  ADD_FAILURE() << "no offset table";
  return 0;
}

// `bytes` with one more header attribute (name, type, value) at the end of
// the header; the offset table is moved along.
std::vector<std::uint8_t> WithAttribute(const std::vector<std::uint8_t>& bytes, std::size_t blocks,
                                        const std::string& name, const std::string& type,
                                        const std::string& value) {
  const std::size_t table = OffsetTableOffset(bytes, blocks);
  std::vector<std::uint8_t> attribute(name.begin(), name.end());
  attribute.push_back(0);
  attribute.insert(attribute.end(), type.begin(), type.end());
  attribute.push_back(0);
  for (int i = 0; i < 4; ++i)
    attribute.push_back(static_cast<std::uint8_t>(value.size() >> (8 * i)));
  attribute.insert(attribute.end(), value.begin(), value.end());
  std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + table - 1);  // before the end mark
  out.insert(out.end(), attribute.begin(), attribute.end());
  out.insert(out.end(), bytes.begin() + table - 1, bytes.end());
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t at = table + attribute.size() + 8 * b;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | out[at + i];
    v += attribute.size();
    for (int i = 0; i < 8; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  return out;
}

TEST(ExrCodec, RoundTripKeepsPixelsWithinHalfPrecision) {
  for (const auto& [w, h] : {std::pair{64, 64}, std::pair{37, 19}, std::pair{1, 1}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const Image original = TestImage(w, h);
    const auto bytes = EncodeExr(original);
    ASSERT_FALSE(bytes.empty());
    Image decoded;
    ASSERT_TRUE(DecodeExr(bytes, decoded));
    ExpectNearHalf(original, decoded);
  }
  const Image sparkle = MakeSparkleImage(kDefaultImageSize, {0.3, 0.2, 0.1}, 7);
  Image decoded;
  ASSERT_TRUE(DecodeExr(EncodeExr(sparkle), decoded));
  ExpectNearHalf(sparkle, decoded);
}

TEST(ExrCodec, BandsOnThreadsWriteTheBytesOfOneEncoding) {
  // Heights with a partial last block, one block per band, more bands than
  // blocks; the sparkle texture compresses like the instrument's images.
  const struct { int width, height; } shapes[] = {{37, 19}, {64, 64}, {5, 1000}, {300, 129}};
  const Image sparkle = MakeSparkleImage(1000, LinearRgb{0.2, 0.3, 0.4}, 7);
  ASSERT_TRUE(sparkle.Valid());
  for (const auto& shape : shapes) {
    Image image;
    image.width = shape.width;
    image.height = shape.height;
    for (int y = 0; y < shape.height; ++y) {
      const float* row = &sparkle.rgb[3u * y * sparkle.width];
      image.rgb.insert(image.rgb.end(), row, row + 3 * shape.width);
    }
    const std::vector<std::uint8_t> whole =
        EncodeExrInBands(image.rgb, image.width, image.height, 1);
    ASSERT_FALSE(whole.empty());
    for (int bands : {2, 3, 7, 1000}) {
      SCOPED_TRACE(std::to_string(shape.width) + "x" + std::to_string(shape.height) + " in " +
                   std::to_string(bands));
      EXPECT_EQ(EncodeExrInBands(image.rgb, image.width, image.height, bands), whole);
    }
    EXPECT_EQ(EncodeExr(image), whole);
  }
}

TEST(ExrCodec, EncodeRejectsBadShapesAndTamesNonFiniteValues) {
  const std::vector<float> six(6, 0.5f);
  EXPECT_TRUE(EncodeExr(six, 2, 2).empty());  // 4 pixels need 12 values
  EXPECT_TRUE(EncodeExr(six, 0, 2).empty());
  EXPECT_TRUE(EncodeExr(six, -2, -1).empty());
  EXPECT_TRUE(EncodeExr(six, kMaxImageSide + 1, 1).empty());
  EXPECT_TRUE(EncodeExr(Image{}).empty());
  EXPECT_FALSE(EncodeExr(six, 2, 1).empty());

  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> wild = {std::nanf(""), 1e6f, -inf, inf, -1e9f, 3.0f};
  Image decoded;
  ASSERT_TRUE(DecodeExr(EncodeExr(wild, 2, 1), decoded));
  const std::vector<float> expected = {0.0f, 65504.0f, -65504.0f, 65504.0f, -65504.0f, 3.0f};
  EXPECT_EQ(decoded.rgb, expected);
}

TEST(ExrCodec, OpenExrToolsReadTheFile) {
#ifdef _WIN32
  GTEST_SKIP() << "the OpenEXR tools run on the build host only";
#else
  const std::string tool = VANTOREL_EXRHEADER_PATH;
  if (tool.empty()) GTEST_SKIP() << "exrheader not available in this build";
  const auto bytes = EncodeExr(MakeSparkleImage(kDefaultImageSize, {0.4, 0.4, 0.5}, 3));
  ASSERT_FALSE(bytes.empty());
  const auto path = std::filesystem::temp_directory_path() /
                    ("colour_test_" + std::to_string(std::rand()) + ".exr");
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  const std::string command = "\"" + tool + "\" \"" + path.string() + "\" 2>&1";
  std::string output;
  int status = -1;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe)) output += buffer;
    status = pclose(pipe);
  }
  std::filesystem::remove(path);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("zip"), std::string::npos) << output;
  EXPECT_NE(output.find("(0 0) - (255 255)"), std::string::npos) << output;
  for (const char* channel :
       {"R, 16-bit floating-point", "G, 16-bit floating-point", "B, 16-bit floating-point"}) {
    EXPECT_NE(output.find(channel), std::string::npos) << output;
  }
#endif
}

TEST(ExrCodec, DecodeReadsOtherPlainLayouts) {
  // Float A, B, G, R planes written by tinyexr itself with each accepted
  // compression; 40 rows span several blocks of every kind.
  const int w = 5;
  const int h = 40;
  const Image original = TestImage(w, h);
  std::vector<float> planes[4];
  for (int c = 0; c < 4; ++c) {
    planes[c].assign(static_cast<std::size_t>(w) * h, 1.0f);
    for (int i = 0; c > 0 && i < w * h; ++i) planes[c][i] = original.rgb[3 * i + 3 - c];
  }
  unsigned char* pointers[4];
  EXRChannelInfo channels[4] = {};
  int types[4];
  for (int c = 0; c < 4; ++c) {
    pointers[c] = reinterpret_cast<unsigned char*>(planes[c].data());
    channels[c].name[0] = "ABGR"[c];
    types[c] = TINYEXR_PIXELTYPE_FLOAT;
  }
  for (int compression : {TINYEXR_COMPRESSIONTYPE_NONE, TINYEXR_COMPRESSIONTYPE_RLE,
                          TINYEXR_COMPRESSIONTYPE_ZIPS, TINYEXR_COMPRESSIONTYPE_ZIP}) {
    SCOPED_TRACE(compression);
    EXRImage image;
    InitEXRImage(&image);
    image.images = pointers;
    image.width = w;
    image.height = h;
    image.num_channels = 4;
    EXRHeader header;
    InitEXRHeader(&header);
    header.num_channels = 4;
    header.channels = channels;
    header.pixel_types = types;
    header.requested_pixel_types = types;
    header.compression_type = compression;
    unsigned char* memory = nullptr;
    const std::size_t size = SaveEXRImageToMemory(&image, &header, &memory, nullptr);
    ASSERT_GT(size, 0u);
    const std::vector<std::uint8_t> bytes(memory, memory + size);
    std::free(memory);
    Image decoded;
    ASSERT_TRUE(DecodeExr(bytes, decoded));
    EXPECT_EQ(decoded.rgb, original.rgb);  // float channels come back exactly
  }
}

TEST(ExrCodec, DecodeRejectsGarbageTruncationAndForgedHeaders) {
  Image out;
  out.width = 3;  // must be reset on failure
  EXPECT_FALSE(DecodeExr({}, out));
  EXPECT_EQ(out.width, 0);
  const std::vector<std::uint8_t> magicOnly = {0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0};
  EXPECT_FALSE(DecodeExr(magicOnly, out));
  std::vector<std::uint8_t> noise(4096);
  std::uint32_t state = 12345;
  for (auto& b : noise)
    b = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
  EXPECT_FALSE(DecodeExr(noise, out));
  std::copy(magicOnly.begin(), magicOnly.end(), noise.begin());
  EXPECT_FALSE(DecodeExr(noise, out));

  const auto valid = EncodeExr(MakeSparkleImage(40, {0.5, 0.4, 0.3}, 11));
  ASSERT_FALSE(valid.empty());
  // Every proper prefix fails; each is copied into an exact-size buffer so
  // that the sanitizer catches a read past its end.
  for (std::size_t length = 0; length < valid.size(); ++length) {
    const std::vector<std::uint8_t> prefix(valid.begin(), valid.begin() + length);
    ASSERT_FALSE(DecodeExr(prefix, out)) << "prefix of " << length << " bytes";
    ASSERT_TRUE(out.rgb.empty());
  }
  // Single corrupted bytes: decoding may succeed or fail, but a success is a
  // complete image.
  for (std::size_t at = 0; at < valid.size(); at += 3) {
    std::vector<std::uint8_t> bent = valid;
    bent[at] ^= 0xA5;
    if (DecodeExr(bent, out)) {
      EXPECT_TRUE(out.Valid()) << "byte " << at;
    } else {
      EXPECT_TRUE(out.rgb.empty());
    }
  }

  const std::size_t window = DataWindowOffset(valid);
  for (const auto& [maxX, maxY] :
       {std::pair{99999, 99999}, std::pair{8191, 8191}, std::pair{8192, 0}, std::pair{39, 8191},
        std::pair{std::numeric_limits<std::int32_t>::max(), 39}}) {
    std::vector<std::uint8_t> forged = valid;
    PutI32(forged, window + 8, maxX);
    PutI32(forged, window + 12, maxY);
    EXPECT_FALSE(DecodeExr(forged, out)) << maxX << " x " << maxY;
  }
  std::vector<std::uint8_t> negative = valid;
  PutI32(negative, window, std::numeric_limits<std::int32_t>::min());
  EXPECT_FALSE(DecodeExr(negative, out));

  // A table that names block 0 twice would leave rows 16..31 unwritten; a
  // zero entry would make the library guess the table.
  const std::size_t table = OffsetTableOffset(valid, 3);
  std::vector<std::uint8_t> repeated = valid;
  std::copy_n(valid.begin() + table, 8, repeated.begin() + table + 8);
  EXPECT_FALSE(DecodeExr(repeated, out));
  std::vector<std::uint8_t> zeroed = valid;
  std::fill_n(zeroed.begin() + table + 16, 8, 0);
  EXPECT_FALSE(DecodeExr(zeroed, out));

  // An unknown or mismatched image type once aborted a debug build inside
  // the library.
  for (const char* type : {"mystery", "tiledimage", "deepscanline"}) {
    const auto odd = WithAttribute(valid, 3, "type", "string", type);
    if (DecodeExr(odd, out)) {
      EXPECT_TRUE(out.Valid()) << type;
    }
  }
  // The insertion itself keeps a file readable.
  EXPECT_TRUE(DecodeExr(WithAttribute(valid, 3, "note", "string", "x"), out));

  // A compression this decoder does not take (PIZ).
  static const char key[] = "compression\0compression";
  auto it = std::search(valid.begin(), valid.end(), key, key + sizeof(key));
  ASSERT_NE(it, valid.end());
  std::vector<std::uint8_t> piz = valid;
  piz[static_cast<std::size_t>(it - valid.begin()) + sizeof(key) + 4] = 4;
  EXPECT_FALSE(DecodeExr(piz, out));
}

}  // namespace
}  // namespace colour
