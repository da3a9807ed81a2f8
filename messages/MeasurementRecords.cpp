#include "messages/MeasurementRecords.h"

#include <algorithm>
#include <bit>
#include <cstring>

// The special members are defined here, out of line, so that the executable
// holds real functions to export to the glue module.
VantorelMeasurements& VantorelMeasurements::operator=(const VantorelMeasurements&) = default;
VantorelMeasurements& VantorelMeasurements::operator=(VantorelMeasurements&&) noexcept = default;

VantorelTextureData& VantorelTextureData::operator=(const VantorelTextureData&) = default;
VantorelTextureData& VantorelTextureData::operator=(VantorelTextureData&&) noexcept = default;

VantorelImage::VantorelImage() = default;
VantorelImage::VantorelImage(const VantorelImage&) = default;
VantorelImage::VantorelImage(VantorelImage&&) noexcept = default;
VantorelImage& VantorelImage::operator=(const VantorelImage&) = default;
VantorelImage& VantorelImage::operator=(VantorelImage&&) noexcept = default;
VantorelImage::~VantorelImage() = default;

VantorelMeasurementsFull::VantorelMeasurementsFull() = default;
VantorelMeasurementsFull::VantorelMeasurementsFull(const VantorelMeasurementsFull&) = default;
VantorelMeasurementsFull::VantorelMeasurementsFull(VantorelMeasurementsFull&&) noexcept = default;
VantorelMeasurementsFull& VantorelMeasurementsFull::operator=(const VantorelMeasurementsFull&) =
    default;
VantorelMeasurementsFull& VantorelMeasurementsFull::operator=(VantorelMeasurementsFull&&) noexcept =
    default;
VantorelMeasurementsFull::~VantorelMeasurementsFull() = default;

JobAdvancedInfo::JobAdvancedInfo() = default;
JobAdvancedInfo::JobAdvancedInfo(const JobAdvancedInfo&) = default;
JobAdvancedInfo::JobAdvancedInfo(JobAdvancedInfo&&) noexcept = default;
JobAdvancedInfo& JobAdvancedInfo::operator=(const JobAdvancedInfo&) = default;
JobAdvancedInfo& JobAdvancedInfo::operator=(JobAdvancedInfo&&) noexcept = default;
JobAdvancedInfo::~JobAdvancedInfo() = default;

bool operator==(const VantorelMeasurements& a, const VantorelMeasurements& b) {
  return a.index == b.index && a.angle == b.angle && a.spectrum == b.spectrum && a.lab == b.lab;
}

bool operator==(const VantorelTextureData& a, const VantorelTextureData& b) {
  return std::equal(std::begin(a.values), std::end(a.values), std::begin(b.values));
}

bool operator==(const VantorelImage& a, const VantorelImage& b) {
  return a.exr == b.exr && a.secondImage == b.secondImage && a.texture == b.texture;
}

bool operator==(const VantorelMeasurementsFull& a, const VantorelMeasurementsFull& b) {
  return a.measurements == b.measurements && a.images == b.images;
}

bool operator==(const JobAdvancedInfo& a, const JobAdvancedInfo& b) {
  return a.name == b.name && a.state == b.state && a.sampleCount == b.sampleCount &&
         a.valid == b.valid;
}

// The float arrays move as one block each: the wire holds the little-endian
// bytes of each float, which is what a little-endian host keeps in memory.
static_assert(std::endian::native == std::endian::little,
              "the float arrays are copied as the host holds them");
static_assert(sizeof(float) == 4 && sizeof(double) == 8);
static_assert(sizeof(VantorelMeasurements::spectrum) == 4 * kSpectrumValueCount);
static_assert(sizeof(VantorelMeasurements::lab) == 12);
static_assert(sizeof(VantorelTextureData::values) == kTextureDataWireSize);

ByteBuffer& Process(ByteBuffer& buffer, VantorelMeasurements& value) {
  buffer.Process(value.index);
  buffer.Process(value.angle);
  buffer.ProcessBytes(value.spectrum.data(), sizeof value.spectrum);
  buffer.ProcessBytes(value.lab.data(), sizeof value.lab);
  return buffer;
}

ByteBuffer& Process(ByteBuffer& buffer, VantorelTextureData& value) {
  buffer.ProcessBytes(value.values, sizeof value.values);
  return buffer;
}

ByteBuffer& Process(ByteBuffer& buffer, VantorelImage& value) {
  Process(buffer, value.exr);
  Process(buffer, value.secondImage);
  return Process(buffer, value.texture);
}

std::size_t WireSize(const VantorelImage& value) {
  return 4 + value.exr.size() + 4 + value.secondImage.size() + kTextureDataWireSize;
}

std::size_t WireSize(const VantorelMeasurementsFull& value) {
  std::size_t size = 4 + value.measurements.size() * (4 + kMeasurementsWireSize) + 4;
  for (const auto& entry : value.images) size += 4 + WireSize(entry.second);
  return size;
}

ByteBuffer& Process(ByteBuffer& buffer, VantorelMeasurementsFull& value) {
  // A full result carries megabytes of images: one exact reservation spares
  // the copies that growing block by block would make. No effect on reading.
  if (buffer.IsWriting()) buffer.Reserve(WireSize(value));
  Process(buffer, value.measurements);
  return Process(buffer, value.images);
}

ByteBuffer& Process(ByteBuffer& buffer, JobAdvancedInfo& value) {
  buffer.Process(value.name);
  buffer.Process(value.state);
  buffer.Process(value.sampleCount);
  return buffer.Process(value.valid);
}
