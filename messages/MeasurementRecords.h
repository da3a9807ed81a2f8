// The measurement records: the plain values in which the driver reports jobs
// and measurement results to its client and hands results to the glue module.
//
// The records travel inside the answer messages and are passed by pointer to
// the glue module, which is built against this same header; the executable
// exports their special members (VANTOREL_EXPORT); a module built against
// this header defines VANTOREL_IMPORTING to use the executable's definitions.
//
// Each record has a Process overload that writes or reads it with a
// ByteBuffer in a fixed field order; reading untrusted bytes throws
// ByteBufferException on a short body and never allocates more than the body
// can fill.
//
// Threads: plain values, no shared state; a record belongs to whoever holds it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "messages/ByteBuffer.h"
#include "platform/Export.h"

// The eleven measurement geometries (incidence angle after r, aspecular angle
// after as). Travels as a signed 32-bit integer; maps keyed by it list the
// 15-degree geometries first. A value read from the wire may lie outside
// 0..10: check it (IsListedAngle) before using it as an index.
enum SpectrumAngle : std::int32_t {
  R15As_45 = 0,
  R15As_15 = 1,
  R15As15 = 2,
  R15As45 = 3,
  R15As80 = 4,
  R45As_15 = 5,
  R45As15 = 6,
  R45As25 = 7,
  R45As45 = 8,
  R45As75 = 9,
  R45As110 = 10,
};

inline constexpr int kSpectrumAngleCount = 11;
inline constexpr std::size_t kSpectrumValueCount = 31;

// True for the eleven enumerators, false for any other value.
constexpr bool IsListedAngle(SpectrumAngle angle) { return angle >= R15As_45 && angle <= R45As110; }

using ByteVector = std::vector<std::uint8_t>;

// One geometry's spectral and colour values. No pointers: copying copies the
// bytes. Construction is trivial, so a plain `VantorelMeasurements m;` is
// uninitialised: value-initialise it (`VantorelMeasurements m{};`) to get
// zeros, as the map's indexing operation does.
struct VANTOREL_EXPORT VantorelMeasurements {
  VantorelMeasurements() = default;
  VantorelMeasurements(const VantorelMeasurements&) = default;
  VantorelMeasurements(VantorelMeasurements&&) = default;
  ~VantorelMeasurements() = default;
  VantorelMeasurements& operator=(const VantorelMeasurements&);
  VantorelMeasurements& operator=(VantorelMeasurements&&) noexcept;

  std::int64_t index;   // position of the spectral content in the device's list
  SpectrumAngle angle;  // equals the key under which the record is stored
  std::array<float, kSpectrumValueCount> spectrum;  // in the device's order
  std::array<float, 3> lab;                         // L*, a*, b*
};

// Seven texture values; their meaning belongs to the glue module. Trivial
// construction as above: value-initialise for zeros.
struct VANTOREL_EXPORT VantorelTextureData {
  VantorelTextureData() = default;
  VantorelTextureData(const VantorelTextureData&) = default;
  VantorelTextureData(VantorelTextureData&&) = default;
  ~VantorelTextureData() = default;
  VantorelTextureData& operator=(const VantorelTextureData&);
  VantorelTextureData& operator=(VantorelTextureData&&) noexcept;

  double values[7];
};

// One geometry's image data. Default construction gives empty vectors and
// zero texture values.
struct VANTOREL_EXPORT VantorelImage {
  VantorelImage();
  VantorelImage(const VantorelImage&);
  VantorelImage(VantorelImage&&) noexcept;
  VantorelImage& operator=(const VantorelImage&);
  VantorelImage& operator=(VantorelImage&&) noexcept;
  ~VantorelImage();

  ByteVector exr;          // EXR file image, as delivered or corrected by the device
  ByteVector secondImage;  // left empty by the driver; the glue module may fill it
  VantorelTextureData texture{};
};

using MeasurementMap = std::map<SpectrumAngle, VantorelMeasurements>;
using ImageMap = std::map<SpectrumAngle, VantorelImage>;

// All geometries of one result. A geometry may be present in one map and
// absent from the other.
struct VANTOREL_EXPORT VantorelMeasurementsFull {
  VantorelMeasurementsFull();
  VantorelMeasurementsFull(const VantorelMeasurementsFull&);
  VantorelMeasurementsFull(VantorelMeasurementsFull&&) noexcept;
  VantorelMeasurementsFull& operator=(const VantorelMeasurementsFull&);
  VantorelMeasurementsFull& operator=(VantorelMeasurementsFull&&) noexcept;
  ~VantorelMeasurementsFull();

  MeasurementMap measurements;
  ImageMap images;
};

// One job of the device's job list. state: 1 measuring, 2 measured, 0 any
// other device state. Default: empty name, zeros, valid false.
struct VANTOREL_EXPORT JobAdvancedInfo {
  JobAdvancedInfo();
  JobAdvancedInfo(const JobAdvancedInfo&);
  JobAdvancedInfo(JobAdvancedInfo&&) noexcept;
  JobAdvancedInfo& operator=(const JobAdvancedInfo&);
  JobAdvancedInfo& operator=(JobAdvancedInfo&&) noexcept;
  ~JobAdvancedInfo();

  std::string name;
  std::uint32_t state = 0;
  std::int32_t sampleCount = 0;
  bool valid = false;
};

// Field-by-field equality, for tests and for callers that compare results.
// Floats compare by value (a NaN never equals itself).
bool operator==(const VantorelMeasurements& a, const VantorelMeasurements& b);
bool operator==(const VantorelTextureData& a, const VantorelTextureData& b);
bool operator==(const VantorelImage& a, const VantorelImage& b);
bool operator==(const VantorelMeasurementsFull& a, const VantorelMeasurementsFull& b);
bool operator==(const JobAdvancedInfo& a, const JobAdvancedInfo& b);

// Serialization, one function per record, writing or reading by the buffer's
// mode. Wire lengths: VantorelMeasurements 148 bytes; VantorelTextureData 56;
// VantorelImage 4 + exr + 4 + secondImage + 56; VantorelMeasurementsFull the
// measurement map (count, then key and record per entry) then the image map;
// JobAdvancedInfo 4 + name + 4 + 4 + 1. Reading a short body throws
// ByteBufferException and leaves the record partly filled. Reading a map
// keeps entries held before and the first value of a repeated key; an angle
// read from the body is stored as it came, even outside 0..10.
ByteBuffer& Process(ByteBuffer& buffer, VantorelMeasurements& value);
ByteBuffer& Process(ByteBuffer& buffer, VantorelTextureData& value);
ByteBuffer& Process(ByteBuffer& buffer, VantorelImage& value);
ByteBuffer& Process(ByteBuffer& buffer, VantorelMeasurementsFull& value);
ByteBuffer& Process(ByteBuffer& buffer, JobAdvancedInfo& value);

// Wire sizes of the fixed-length records.
inline constexpr std::size_t kMeasurementsWireSize = 148;
inline constexpr std::size_t kTextureDataWireSize = 56;

// Serialized length of a record, in bytes, as Process writes it.
std::size_t WireSize(const VantorelImage& value);
std::size_t WireSize(const VantorelMeasurementsFull& value);
