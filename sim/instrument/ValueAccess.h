// ValueAccess: how the virtual instrument reads and fills the driver's value
// classes (device/) across the module boundary.
//
// Everything here uses only the values' virtual operations (accessors, Set,
// c_str, length, size, resize, at): the module never constructs, copies or
// destroys a value and never touches its members, because the objects belong
// to the driver, which built them with its own code and heap. Bulk bytes and
// floats are copied with memcpy into the array after resize, which the
// value classes keep contiguous; a resize that did not take (size() differs
// afterwards, for want of memory) is detected and nothing is copied then.
//
// Threads: the values belong to the calling thread during the call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/DeviceValues.h"
#include "sim/instrument/Geometries.h"
#include "sim/instrument/JobRecord.h"
#include "sim/instrument/SimConfig.h"

namespace instrument {

namespace dv = Vexil::Device_Cpp;

// Text of an IString (its length() bytes; empty if c_str() is null).
std::string ReadText(dv::IString& text);
std::u32string ReadText32(dv::IString32& text);
// Sets the text (up to its first zero byte, as IString::Set reads it).
void WriteText(dv::IString& target, const std::string& text);
void WriteText32(dv::IString32& target, const std::u32string& text);

// Copies bytes or floats into a vector (resize, then one memcpy). False when
// the vector could not be resized; it is then left as resize left it.
bool WriteBytes(dv::IUintVector8& target, const std::uint8_t* data, std::size_t size);
bool WriteFloats(dv::IFloatVector& target, const float* data, std::size_t size);
// Copies a vector's bytes out.
std::vector<std::uint8_t> ReadBytes(dv::IUintVector8& source);

// Reads a job description given to AddJob into `job` (state stored, no
// samples measured). Returns 0, or kInvalidJobCode when the identifier is
// empty or holds a zero byte, or when any text, tag count or the sample count exceeds the limits of
// JobRecord.h (`reason` then says which).
std::int32_t ReadJobDescription(dv::IJobDescription& description, JobRecord& job,
                                std::string& reason);

// Fills one entry of GetJobs' list: the description as stored, one
// SampleInfo per measured sample, the state code in modeInfo().
void FillJobInfo(dv::IJobInfo& info, const JobRecord& job);

// Sets the six fields of `time` to the UTC time `utcMs` (ms since 1970);
// the year counts from 2000.
void FillTime(dv::ITime& time, std::int64_t utcMs);

// Fills the SampleInfo of a measured sample.
void FillSampleInfo(dv::SampleInfo& info, std::int32_t sampleIndex, const MeasuredSample& sample);

// What a GetSample call asks for, read from its request values.
struct SampleRequest {
  // Per geometry (kMeasurementGeometries order): deliver its spectral / image entry.
  std::array<bool, kGeometryCount> spectral{};
  std::array<bool, kGeometryCount> image{};
  // Spectral item kinds in the requested order: (contentKind, variant);
  // only kinds 0 (spectrum) and 3 (L*a*b*) are delivered.
  std::vector<std::pair<std::uint16_t, std::uint16_t>> kinds;
};

// Channel lists select geometries by name; an empty list or the entry "ALL"
// selects all, unknown names are ignored. An empty kind list means (0, 0)
// then (3, 0).
SampleRequest ReadSampleRequest(dv::IStringVector& imageChannels,
                                dv::IStringVector& spectralChannels,
                                dv::SpectralChannelContentTypeVector& spectralKinds);

// Fills the spectral contents of `sample` as `request` asks, in
// kMeasurementGeometries order, honouring the faults geometry=unlisted (an extra
// entry "r15as15 " after the others, with r15as15's items),
// geometry=duplicate (then a second "r15as45" entry carrying r45as110's
// items), contents=short (the last regular entry keeps only its first item)
// and contents=images-only (no entries at all).
void FillSpectra(dv::SpectrumContentVector& spectra, const MeasuredSample& sample,
                 const SampleRequest& request, const Faults& faults);

// Fills the image contents (kImageGeometries order, one EXR item each).
void FillImages(dv::ImageContentVector& images, const MeasuredSample& sample,
                const SampleRequest& request);

}  // namespace instrument
