#include "messages/ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "AllocationProbe.h"
#include "WireBytes.h"

namespace {

TEST(ByteBufferTest, ScalarsAreLittleEndianWithoutPadding) {
  ByteBuffer buffer(0, true);
  bool flag = true;
  std::uint8_t byte = 0xAB;
  std::int32_t negative = -2;
  std::uint32_t unsignedValue = 0x01020304;
  std::int64_t wide = 0x0102030405060708;
  float one = 1.0f;
  double two = 2.0;
  enum class Colour : std::int32_t { kBlue = 7 } colour = Colour::kBlue;
  buffer.Process(flag).Process(byte).Process(negative).Process(unsignedValue);
  buffer.Process(wide).Process(one).Process(two).Process(colour);
  EXPECT_EQ(Bytes(buffer.Data(), buffer.Data() + buffer.Size()),
            MakeBytes({0x01, 0xAB, 0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01, 0x08, 0x07,
                       0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x80, 0x3F, 0,    0,
                       0,    0,    0,    0,    0x00, 0x40, 0x07, 0,    0,    0}));

  ByteBuffer reader(buffer.Data(), buffer.Size(), false);
  bool flagIn = false;
  std::uint8_t byteIn = 0;
  std::int32_t negativeIn = 0;
  std::uint32_t unsignedIn = 0;
  std::int64_t wideIn = 0;
  float oneIn = 0;
  double twoIn = 0;
  Colour colourIn{};
  reader.Process(flagIn).Process(byteIn).Process(negativeIn).Process(unsignedIn);
  reader.Process(wideIn).Process(oneIn).Process(twoIn).Process(colourIn);
  EXPECT_TRUE(flagIn);
  EXPECT_EQ(byteIn, 0xAB);
  EXPECT_EQ(negativeIn, -2);
  EXPECT_EQ(unsignedIn, 0x01020304u);
  EXPECT_EQ(wideIn, 0x0102030405060708);
  EXPECT_EQ(oneIn, 1.0f);
  EXPECT_EQ(twoIn, 2.0);
  EXPECT_EQ(colourIn, Colour::kBlue);
  EXPECT_EQ(reader.Remaining(), 0u);
}

TEST(ByteBufferTest, BoolReadsAnyNonZeroByteAsTrue) {
  const Bytes body = MakeBytes({0x00, 0x02});
  ByteBuffer reader(body.data(), body.size(), false);
  bool a = true, b = false;
  reader.Process(a).Process(b);
  EXPECT_FALSE(a);
  EXPECT_TRUE(b);
}

TEST(ByteBufferTest, StringsAndContainersCarryACountFirst) {
  ProcessFn process;
  EXPECT_EQ(Write(process, std::string()), MakeBytes({0, 0, 0, 0}));
  EXPECT_EQ(Write(process, std::string("abc")), MakeBytes({3, 0, 0, 0, 0x61, 0x62, 0x63}));
  EXPECT_EQ(Write(process, std::u32string(U"h\U0001F600")),
            MakeBytes({2, 0, 0, 0, 0x68, 0, 0, 0, 0x00, 0xF6, 0x01, 0x00}));
  EXPECT_EQ(Write(process, std::vector<std::int32_t>()), MakeBytes({0, 0, 0, 0}));
  EXPECT_EQ(Write(process, std::vector<std::int32_t>{1, -1}),
            MakeBytes({2, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Write(process, Bytes{9, 8}), MakeBytes({2, 0, 0, 0, 9, 8}));
  EXPECT_EQ(Write(process, std::map<std::int32_t, std::uint8_t>()), MakeBytes({0, 0, 0, 0}));

  std::map<std::int32_t, std::uint8_t> map;
  map.emplace(5, 0x55);
  map.emplace(2, 0x22);
  EXPECT_EQ(Write(process, map), MakeBytes({2, 0, 0, 0, 2, 0, 0, 0, 0x22, 5, 0, 0, 0, 0x55}));
}

TEST(ByteBufferTest, ContainersRoundTrip) {
  ProcessFn process;
  const std::string text("with\0zero", 9);
  EXPECT_EQ(Read<std::string>(process, Write(process, text)), text);
  const std::u32string wide = U"\u00e9t\u00e9";
  EXPECT_EQ(Read<std::u32string>(process, Write(process, wide)), wide);
  const std::vector<std::string> strings{"a", "", "ccc"};
  EXPECT_EQ(Read<std::vector<std::string>>(process, Write(process, strings)), strings);
  const Bytes bytes{0, 1, 2, 255};
  EXPECT_EQ(Read<Bytes>(process, Write(process, bytes)), bytes);
  const std::map<std::int32_t, std::string> map{{-1, "neg"}, {3, ""}, {7, "x"}};
  EXPECT_EQ((Read<std::map<std::int32_t, std::string>>(process, Write(process, map))), map);
}

TEST(ByteBufferTest, ReadingReplacesContainerContentButMapsKeepEntries) {
  const Bytes body = MakeBytes({1, 0, 0, 0, 0x41,                   // string "A"
                                1, 0, 0, 0, 0x07,                   // byte vector {7}
                                1, 0, 0, 0, 9,    0, 0, 0,          // vector<int32> {9}
                                1, 0, 0, 0, 4,    0, 0, 0, 0x44});  // map {4: 0x44}
  ByteBuffer reader(body.data(), body.size(), false);
  std::string text = "longer text";
  Bytes bytes{1, 2, 3};
  std::vector<std::int32_t> ints{1, 2, 3};
  std::map<std::int32_t, std::uint8_t> map{{1, 0x11}};
  reader.Process(text);
  Process(reader, bytes);
  Process(reader, ints);
  Process(reader, map);
  EXPECT_EQ(text, "A");
  EXPECT_EQ(bytes, Bytes{7});
  EXPECT_EQ(ints, std::vector<std::int32_t>{9});
  EXPECT_EQ(map, (std::map<std::int32_t, std::uint8_t>{{1, 0x11}, {4, 0x44}}));
}

TEST(ByteBufferTest, RepeatedMapKeyKeepsTheFirstValue) {
  const Bytes body = MakeBytes({2, 0, 0, 0, 3, 0, 0, 0, 0xAA, 3, 0, 0, 0, 0xBB});
  const auto map = Read<std::map<std::int32_t, std::uint8_t>>(ProcessFn{}, body);
  EXPECT_EQ(map, (std::map<std::int32_t, std::uint8_t>{{3, 0xAA}}));
}

TEST(ByteBufferTest, ShortReadThrowsWithItsPositionAndLeavesTheBuffer) {
  const Bytes body = MakeBytes({1, 2, 3});
  ByteBuffer reader(body.data(), body.size(), false);
  std::uint32_t value = 0;
  try {
    reader.Process(value);
    FAIL() << "a 4-byte read from 3 bytes must throw";
  } catch (const ByteBufferException& e) {
    EXPECT_FALSE(e.writing);
    EXPECT_EQ(e.endPosition, 4u);
    EXPECT_EQ(e.length, 4u);
    EXPECT_EQ(e.bufferSize, 3u);
  }
  // Nothing was consumed: the three bytes are still there to read.
  EXPECT_EQ(reader.Remaining(), 3u);
  std::uint8_t byte = 0;
  reader.Process(byte);
  EXPECT_EQ(byte, 1);

  try {
    std::int64_t wide = 0;
    reader.Process(wide);
    FAIL() << "an 8-byte read from 2 remaining bytes must throw";
  } catch (const ByteBufferException& e) {
    EXPECT_EQ(e.endPosition, 9u);
    EXPECT_EQ(e.length, 8u);
    EXPECT_EQ(e.bufferSize, 3u);
  }
}

TEST(ByteBufferTest, ZeroLengthReadsSucceedAtTheEnd) {
  const Bytes body = MakeBytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ByteBuffer reader(body.data(), body.size(), false);
  std::string text = "x";
  Bytes bytes{1};
  std::u32string wide = U"y";
  reader.Process(text);
  Process(reader, bytes);
  reader.Process(wide);
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(bytes.empty());
  EXPECT_TRUE(wide.empty());
  reader.ProcessBytes(nullptr, 0);
  EXPECT_EQ(reader.Remaining(), 0u);

  ByteBuffer empty(nullptr, 0, false);
  empty.ProcessBytes(nullptr, 0);
  std::uint8_t byte = 0;
  EXPECT_THROW(empty.Process(byte), ByteBufferException);
}

// A forged count must be refused from the count alone: the longest string,
// vector or map the body could fill is what bounds the allocation.
TEST(ByteBufferTest, ForgedHugeCountsThrowBeforeAllocating) {
  const Bytes huge = MakeBytes({0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8});
  const Bytes large = MakeBytes({0x00, 0x00, 0x00, 0x10, 1, 2, 3, 4});  // 256 Mi entries
  for (const Bytes& body : {huge, large}) {
    allocation_probe::Reset();
    ProcessFn process;
    EXPECT_THROW(Read<std::string>(process, body), ByteBufferException);
    EXPECT_THROW(Read<std::u32string>(process, body), ByteBufferException);
    EXPECT_THROW(Read<Bytes>(process, body), ByteBufferException);
    EXPECT_THROW(Read<std::vector<std::int32_t>>(process, body), ByteBufferException);
    EXPECT_THROW((Read<std::map<std::int32_t, std::int32_t>>(process, body)), ByteBufferException);
    EXPECT_LT(allocation_probe::Largest(), 4096u);
  }

  // The exception reports the whole claimed length, saturated at 32 bits.
  try {
    Read<std::u32string>(ProcessFn{}, huge);
    FAIL();
  } catch (const ByteBufferException& e) {
    EXPECT_EQ(e.length, 0xFFFFFFFFu);
    EXPECT_EQ(e.endPosition, 0xFFFFFFFFu);
    EXPECT_EQ(e.bufferSize, 12u);
  }
}

// A count that the body could hold but whose elements run out part way:
// the vector stops growing with the body and the read throws.
TEST(ByteBufferTest, VectorCountLargerThanItsElementsThrows) {
  const Bytes body = MakeBytes({3, 0, 0, 0, 1, 0, 0, 0, 0, 0});
  EXPECT_THROW(Read<std::vector<std::int32_t>>(ProcessFn{}, body), ByteBufferException);
}

TEST(ByteBufferTest, WritingAppendsAndReleasesTheBytes) {
  const Bytes prefix = MakeBytes({0xEE});
  ByteBuffer buffer(prefix.data(), prefix.size(), true);
  std::string text = "four";
  const std::size_t before = buffer.Size();
  buffer.Process(text);
  EXPECT_EQ(buffer.Size(), before + 4 + 4);
  // A large block followed by small fields keeps every byte in order.
  Bytes block(1 << 20, 0x5A);
  Process(buffer, block);
  std::uint32_t tail = 0xCAFEF00D;
  buffer.Process(tail);
  const Bytes out = buffer.Release();
  ASSERT_EQ(out.size(), 1u + 8 + 4 + block.size() + 4);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(out[13], 0x5A);
  EXPECT_EQ(out[out.size() - 5], 0x5A);
  EXPECT_EQ(Bytes(out.end() - 4, out.end()), MakeBytes({0x0D, 0xF0, 0xFE, 0xCA}));
  EXPECT_EQ(buffer.Size(), 0u);
}

}  // namespace
