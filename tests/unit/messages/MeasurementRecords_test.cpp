#include "messages/MeasurementRecords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>
#include <utility>

#include "AllocationProbe.h"
#include "WireBytes.h"

namespace {

VantorelMeasurements Sample(SpectrumAngle angle, std::int64_t index) {
  VantorelMeasurements m{};
  m.index = index;
  m.angle = angle;
  for (std::size_t i = 0; i < m.spectrum.size(); ++i) m.spectrum[i] = static_cast<float>(i) + 0.5f;
  m.lab = {50.0f, -2.0f, 3.0f};
  return m;
}

float FloatAt(const Bytes& bytes, std::size_t offset) {
  float value;
  std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

TEST(MeasurementRecordsTest, MeasurementIsAlways148BytesInFieldOrder) {
  const Bytes bytes = Write(ProcessFn{}, Sample(R45As25, 0x0102030405));
  ASSERT_EQ(bytes.size(), kMeasurementsWireSize);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 12),
            MakeBytes({0x05, 0x04, 0x03, 0x02, 0x01, 0, 0, 0, 7, 0, 0, 0}));
  EXPECT_EQ(FloatAt(bytes, 12), 0.5f);            // first spectral value
  EXPECT_EQ(FloatAt(bytes, 12 + 30 * 4), 30.5f);  // last spectral value
  EXPECT_EQ(FloatAt(bytes, 136), 50.0f);          // L*
  EXPECT_EQ(FloatAt(bytes, 140), -2.0f);          // a*
  EXPECT_EQ(FloatAt(bytes, 144), 3.0f);           // b*
  EXPECT_EQ(Read<VantorelMeasurements>(ProcessFn{}, bytes), Sample(R45As25, 0x0102030405));

  VantorelTextureData texture{};
  texture.values[0] = 1.0;
  const Bytes textureBytes = Write(ProcessFn{}, texture);
  ASSERT_EQ(textureBytes.size(), kTextureDataWireSize);
  EXPECT_EQ(textureBytes[7], 0x3F);  // 1.0 ends in 3F F0 little-endian
  EXPECT_EQ(textureBytes[6], 0xF0);
}

TEST(MeasurementRecordsTest, EmptyRecordsHaveTheirFixedLengths) {
  const Bytes image = Write(ProcessFn{}, VantorelImage{});
  EXPECT_EQ(image, Bytes(64, 0));
  EXPECT_EQ(WireSize(VantorelImage{}), 64u);
  const Bytes full = Write(ProcessFn{}, VantorelMeasurementsFull{});
  EXPECT_EQ(full, Bytes(8, 0));
  EXPECT_EQ(WireSize(VantorelMeasurementsFull{}), 8u);
  const Bytes job = Write(ProcessFn{}, JobAdvancedInfo{});
  EXPECT_EQ(job, Bytes(13, 0));
}

TEST(MeasurementRecordsTest, FullResultWritesMeasurementsThenImagesInAngleOrder) {
  VantorelMeasurementsFull full;
  full.measurements[R45As15] = Sample(R45As15, 1);
  full.measurements[R15As_45] = Sample(R15As_45, 0);
  full.images[R45As110].exr = {0xE0, 0xE1};
  full.images[R15As45].secondImage = {0x5E};
  const Bytes bytes = Write(ProcessFn{}, full);
  ASSERT_EQ(bytes.size(), 4 + 2 * 152 + 4 + (4 + 66) + (4 + 65));
  EXPECT_EQ(bytes.size(), WireSize(full));
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 8), MakeBytes({2, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(bytes.begin() + 156, bytes.begin() + 160), MakeBytes({6, 0, 0, 0}));
  const std::size_t images = 4 + 2 * 152;
  EXPECT_EQ(Bytes(bytes.begin() + images, bytes.begin() + images + 8),
            MakeBytes({2, 0, 0, 0, 3, 0, 0, 0}));  // R15As45 before R45As110
  EXPECT_EQ(Bytes(bytes.begin() + images + 73, bytes.begin() + images + 83),
            MakeBytes({10, 0, 0, 0, 2, 0, 0, 0, 0xE0, 0xE1}));
  EXPECT_EQ(Read<VantorelMeasurementsFull>(ProcessFn{}, bytes), full);
}

// Keys are stored as they came, even outside the eleven geometries, and a
// repeated key keeps the record that came first.
TEST(MeasurementRecordsTest, ReadingKeepsForeignAnglesAndFirstOfRepeatedKeys) {
  const auto foreign = static_cast<SpectrumAngle>(99);
  Bytes body = MakeBytes({2, 0, 0, 0});
  for (std::int64_t index : {111, 222}) {
    std::int32_t key = foreign;
    const Bytes keyBytes = Write(ProcessFn{}, key);
    const Bytes record = Write(ProcessFn{}, Sample(foreign, index));
    body.insert(body.end(), keyBytes.begin(), keyBytes.end());
    body.insert(body.end(), record.begin(), record.end());
  }
  body.insert(body.end(), {0, 0, 0, 0});
  const auto full = Read<VantorelMeasurementsFull>(ProcessFn{}, body);
  ASSERT_EQ(full.measurements.size(), 1u);
  EXPECT_EQ(full.measurements.begin()->first, foreign);
  EXPECT_EQ(full.measurements.begin()->second.index, 111);
  EXPECT_TRUE(full.images.empty());
}

TEST(MeasurementRecordsTest, ShortOrForgedRecordBodiesThrow) {
  const Bytes measurement = Write(ProcessFn{}, Sample(R15As80, 3));
  EXPECT_THROW(
      Read<VantorelMeasurements>(ProcessFn{}, Bytes(measurement.begin(), measurement.end() - 1)),
      ByteBufferException);
  // An image whose texture is cut short.
  EXPECT_THROW(Read<VantorelImage>(ProcessFn{}, Bytes(63, 0)), ByteBufferException);
  allocation_probe::Reset();
  // Forged counts for the measurement map, the image map and an exr vector.
  EXPECT_THROW(Read<VantorelMeasurementsFull>(ProcessFn{}, MakeBytes({0xFF, 0xFF, 0xFF, 0x7F})),
               ByteBufferException);
  EXPECT_THROW(
      Read<VantorelMeasurementsFull>(ProcessFn{}, MakeBytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})),
      ByteBufferException);
  EXPECT_THROW(Read<VantorelMeasurementsFull>(
                   ProcessFn{}, MakeBytes({0, 0, 0,    0,    1,    0,    0, 0, 2, 0,
                                           0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0})),
               ByteBufferException);
  EXPECT_LT(allocation_probe::Largest(), 4096u);
}

TEST(MeasurementRecordsTest, RecordsHaveIndependentValueCopies) {
  VantorelMeasurementsFull original;
  original.measurements[R45As45] = Sample(R45As45, 8);
  original.images[R45As45].exr = {1, 2, 3};
  original.images[R45As45].texture.values[2] = 0.75;

  VantorelMeasurementsFull copy(original);
  copy.images[R45As45].exr[0] = 9;
  copy.measurements[R45As45].lab[0] = 1.0f;
  EXPECT_EQ(original.images[R45As45].exr[0], 1);
  EXPECT_EQ(original.measurements[R45As45].lab[0], 50.0f);

  VantorelMeasurementsFull assigned;
  assigned = original;
  EXPECT_EQ(assigned, original);
  VantorelMeasurementsFull moved(std::move(assigned));
  EXPECT_EQ(moved, original);
  VantorelMeasurementsFull moveAssigned;
  moveAssigned = std::move(moved);
  EXPECT_EQ(moveAssigned, original);

  // A geometry seen first through the map's indexing starts at zero.
  VantorelMeasurementsFull fresh;
  const VantorelMeasurements& zero = fresh.measurements[R15As15];
  EXPECT_EQ(zero.index, 0);
  EXPECT_EQ(zero.spectrum[17], 0.0f);
  EXPECT_EQ(zero.lab[2], 0.0f);
  EXPECT_EQ(fresh.images[R15As15], VantorelImage{});
  EXPECT_EQ(fresh.images[R15As15].texture.values[6], 0.0);

  const JobAdvancedInfo job;
  EXPECT_TRUE(job.name.empty());
  EXPECT_EQ(job.state, 0u);
  EXPECT_EQ(job.sampleCount, 0);
  EXPECT_FALSE(job.valid);

  static_assert(std::is_trivially_copy_constructible_v<VantorelMeasurements>);
  static_assert(std::is_trivially_destructible_v<VantorelTextureData>);
  static_assert(std::is_nothrow_move_constructible_v<VantorelImage>);
}

}  // namespace
