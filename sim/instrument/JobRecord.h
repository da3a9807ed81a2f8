// The instrument's memory: stored jobs with their descriptions, states and
// measured samples, in the form the job store, the store file and the
// measurement share.
//
// A MeasuredSample is immutable once made: it is held by shared_ptr<const>,
// so GetSample and the store writer can use it without a lock while the job
// list changes.
//
// Threads: plain values.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/instrument/Geometries.h"
#include "sim/instrument/SimCodes.h"

namespace instrument {

// Limits of what the instrument stores; AddJob refuses more (kInvalidJobCode)
// and the store reader treats more as damage.
inline constexpr std::int32_t kMaxSampleCount = 1000;
inline constexpr std::size_t kMaxJobs = 1000;
inline constexpr std::size_t kMaxTextBytes = 4096;  // identifiers, tag names and values
inline constexpr std::size_t kMaxTags = 64;         // per tag vector
inline constexpr std::size_t kMaxExrBytes = 256u * 1024 * 1024;

// Everything the instrument keeps of one measured sample.
struct MeasuredSample {
  std::array<std::array<float, kSpectrumSize>, kGeometryCount> spectra{};
  std::array<std::array<float, 3>, kGeometryCount> lab{};  // L*, a*, b*
  std::array<std::vector<std::uint8_t>, kImageCount> exr;  // in kImageGeometries order
  std::int64_t measuredAtMs = 0;                           // UTC, ms since 1970
};

using SamplePtr = std::shared_ptr<const MeasuredSample>;

// One stored job: its description as given to AddJob, its state and one slot
// per sample (null until measured). samples.size() == sampleCount.
struct JobRecord {
  std::int32_t version = 0;
  std::string identifier;
  std::vector<std::pair<std::string, std::string>> tags;
  std::vector<std::pair<std::string, std::u32string>> displayTags;
  std::int32_t sampleCount = 0;
  std::string comment;
  std::string referenceName;
  std::int32_t plannedSampleCount = 0;
  std::int32_t stateCode = kJobStored;
  std::vector<SamplePtr> samples;
};

}  // namespace instrument
