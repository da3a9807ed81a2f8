#include "sim/instrument/StoreReader.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "sim/instrument/StoreFormat.h"

namespace instrument {
namespace {

// Reads little-endian values from a byte range; every read first checks that
// enough bytes remain and fails (without moving) otherwise.
class Cursor {
 public:
  Cursor(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}

  std::size_t Left() const { return left_; }

  bool Bytes(void* out, std::size_t n) {
    if (n > left_) return false;
    if (n != 0) std::memcpy(out, data_, n);
    data_ += n;
    left_ -= n;
    return true;
  }
  bool U32(std::uint32_t& value) {
    std::uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    value = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    return true;
  }
  bool U64(std::uint64_t& value) {
    std::uint32_t low = 0, high = 0;
    if (!U32(low) || !U32(high)) return false;
    value = static_cast<std::uint64_t>(high) << 32 | low;
    return true;
  }
  bool I32(std::int32_t& value) {
    std::uint32_t raw = 0;
    if (!U32(raw)) return false;
    value = static_cast<std::int32_t>(raw);
    return true;
  }
  bool I64(std::int64_t& value) {
    std::uint64_t raw = 0;
    if (!U64(raw)) return false;
    value = static_cast<std::int64_t>(raw);
    return true;
  }
  bool F32(float& value) {
    std::uint32_t raw = 0;
    if (!U32(raw)) return false;
    std::memcpy(&value, &raw, sizeof value);
    return std::isfinite(value);
  }
  bool Text(std::string& text) {
    std::uint32_t length = 0;
    if (!U32(length) || length > kMaxTextBytes || length > left_) return false;
    text.assign(reinterpret_cast<const char*>(data_), length);
    data_ += length;
    left_ -= length;
    return true;
  }
  bool Text32(std::u32string& text) {
    std::uint32_t count = 0;
    if (!U32(count) || count > kMaxTextBytes || count > left_ / 4) return false;
    text.resize(count);
    for (char32_t& unit : text) {
      std::uint32_t raw = 0;
      if (!U32(raw)) return false;
      unit = static_cast<char32_t>(raw);
    }
    return true;
  }
  bool ByteVector(std::vector<std::uint8_t>& bytes) {
    std::uint32_t length = 0;
    if (!U32(length) || length > kMaxExrBytes || length > left_) return false;
    bytes.assign(data_, data_ + length);
    data_ += length;
    left_ -= length;
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t left_;
};

// Smallest encodings, used to bound counts by the bytes that remain.
constexpr std::size_t kMinTagBytes = 8;
constexpr std::size_t kMinJobBytes = 4 + 4 + 4 + 4 + 4 + 4 + 4 + 4 + 4 + 4;
constexpr std::size_t kMinSampleBytes =
    4 + 8 + (kGeometryCount * (kSpectrumSize + 3)) * 4 + kImageCount * 4;

bool ReadSample(Cursor& in, MeasuredSample& sample) {
  if (!in.I64(sample.measuredAtMs)) return false;
  for (auto& spectrum : sample.spectra) {
    for (float& value : spectrum) {
      if (!in.F32(value)) return false;
    }
  }
  for (auto& lab : sample.lab) {
    for (float& value : lab) {
      if (!in.F32(value)) return false;
    }
  }
  for (auto& exr : sample.exr) {
    if (!in.ByteVector(exr)) return false;
  }
  return true;
}

bool ReadJob(Cursor& in, JobRecord& job) {
  std::uint32_t count = 0;
  if (!in.I32(job.version) || !in.Text(job.identifier) || job.identifier.empty()) return false;

  if (!in.U32(count) || count > kMaxTags || count > in.Left() / kMinTagBytes) return false;
  job.tags.resize(count);
  for (auto& [name, value] : job.tags) {
    if (!in.Text(name) || !in.Text(value)) return false;
  }
  if (!in.U32(count) || count > kMaxTags || count > in.Left() / kMinTagBytes) return false;
  job.displayTags.resize(count);
  for (auto& [name, value] : job.displayTags) {
    if (!in.Text(name) || !in.Text32(value)) return false;
  }

  if (!in.I32(job.sampleCount) || job.sampleCount < 0 || job.sampleCount > kMaxSampleCount) {
    return false;
  }
  if (!in.Text(job.comment) || !in.Text(job.referenceName) || !in.I32(job.plannedSampleCount) ||
      !in.I32(job.stateCode)) {
    return false;
  }

  job.samples.assign(static_cast<std::size_t>(job.sampleCount), nullptr);
  if (!in.U32(count) || count > static_cast<std::uint32_t>(job.sampleCount) ||
      count > in.Left() / kMinSampleBytes) {
    return false;
  }
  std::int64_t previous = -1;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::int32_t index = 0;
    if (!in.I32(index) || index <= previous || index >= job.sampleCount) return false;
    previous = index;
    auto sample = std::make_shared<MeasuredSample>();
    if (!ReadSample(in, *sample)) return false;
    job.samples[static_cast<std::size_t>(index)] = std::move(sample);
  }
  return true;
}

}  // namespace

bool ParseStore(const std::uint8_t* data, std::size_t size, std::vector<JobRecord>& jobs) {
  if (data == nullptr || size < kStoreHeaderSize) return false;
  if (std::memcmp(data, kStoreMagic, sizeof kStoreMagic) != 0) return false;

  Cursor header(data + sizeof kStoreMagic, kStoreHeaderSize - sizeof kStoreMagic);
  std::uint32_t version = 0, crc = 0;
  std::uint64_t payloadSize = 0;
  if (!header.U32(version) || !header.U32(crc) || !header.U64(payloadSize)) return false;
  if (version != kStoreVersion || payloadSize != size - kStoreHeaderSize) return false;

  const std::uint8_t* payload = data + kStoreHeaderSize;
  uLong actual = crc32(0L, Z_NULL, 0);
  for (std::size_t done = 0; done < payloadSize;) {
    const std::size_t chunk = std::min<std::size_t>(payloadSize - done, 1u << 30);
    actual = crc32(actual, payload + done, static_cast<uInt>(chunk));
    done += chunk;
  }
  if (static_cast<std::uint32_t>(actual) != crc) return false;

  Cursor in(payload, static_cast<std::size_t>(payloadSize));
  std::uint32_t jobCount = 0;
  if (!in.U32(jobCount) || jobCount > kMaxJobs || jobCount > in.Left() / kMinJobBytes) return false;
  std::vector<JobRecord> parsed(jobCount);
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    if (!ReadJob(in, parsed[i])) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (parsed[j].identifier == parsed[i].identifier) return false;
    }
  }
  if (in.Left() != 0) return false;
  jobs = std::move(parsed);
  return true;
}

}  // namespace instrument
