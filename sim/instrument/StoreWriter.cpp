#include "sim/instrument/StoreWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "sim/instrument/StoreFormat.h"

namespace instrument {
namespace {

class Output {
 public:
  explicit Output(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  void U32(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
      bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  void U64(std::uint64_t value) {
    U32(static_cast<std::uint32_t>(value));
    U32(static_cast<std::uint32_t>(value >> 32));
  }
  void I32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
  void I64(std::int64_t value) { U64(static_cast<std::uint64_t>(value)); }
  void F32(float value) {
    std::uint32_t raw = 0;
    std::memcpy(&raw, &value, sizeof raw);
    U32(raw);
  }
  void Raw(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + n);
  }
  void Text(const std::string& text) {
    U32(static_cast<std::uint32_t>(text.size()));
    Raw(text.data(), text.size());
  }
  void Text32(const std::u32string& text) {
    U32(static_cast<std::uint32_t>(text.size()));
    for (const char32_t unit : text) U32(static_cast<std::uint32_t>(unit));
  }

 private:
  std::vector<std::uint8_t>& bytes_;
};

void WriteJob(Output& out, const JobRecord& job) {
  out.I32(job.version);
  out.Text(job.identifier);
  out.U32(static_cast<std::uint32_t>(job.tags.size()));
  for (const auto& [name, value] : job.tags) {
    out.Text(name);
    out.Text(value);
  }
  out.U32(static_cast<std::uint32_t>(job.displayTags.size()));
  for (const auto& [name, value] : job.displayTags) {
    out.Text(name);
    out.Text32(value);
  }
  out.I32(job.sampleCount);
  out.Text(job.comment);
  out.Text(job.referenceName);
  out.I32(job.plannedSampleCount);
  out.I32(job.stateCode);
  const auto measured = static_cast<std::uint32_t>(std::count_if(
      job.samples.begin(), job.samples.end(), [](const SamplePtr& s) { return s != nullptr; }));
  out.U32(measured);
  for (std::size_t i = 0; i < job.samples.size(); ++i) {
    const SamplePtr& sample = job.samples[i];
    if (!sample) continue;
    out.I32(static_cast<std::int32_t>(i));
    out.I64(sample->measuredAtMs);
    for (const auto& spectrum : sample->spectra) {
      for (const float value : spectrum) out.F32(value);
    }
    for (const auto& lab : sample->lab) {
      for (const float value : lab) out.F32(value);
    }
    for (const auto& exr : sample->exr) {
      out.U32(static_cast<std::uint32_t>(exr.size()));
      out.Raw(exr.data(), exr.size());
    }
  }
}

}  // namespace

std::vector<std::uint8_t> SerializeStore(const std::vector<JobRecord>& jobs) {
  std::vector<std::uint8_t> bytes(kStoreHeaderSize);
  Output out(bytes);
  out.U32(static_cast<std::uint32_t>(jobs.size()));
  for (const JobRecord& job : jobs) WriteJob(out, job);

  const std::size_t payloadSize = bytes.size() - kStoreHeaderSize;
  uLong crc = crc32(0L, Z_NULL, 0);
  for (std::size_t done = 0; done < payloadSize;) {
    const std::size_t chunk = std::min<std::size_t>(payloadSize - done, 1u << 30);
    crc = crc32(crc, bytes.data() + kStoreHeaderSize + done, static_cast<uInt>(chunk));
    done += chunk;
  }
  std::vector<std::uint8_t> header;
  Output head(header);
  head.Raw(kStoreMagic, sizeof kStoreMagic);
  head.U32(kStoreVersion);
  head.U32(static_cast<std::uint32_t>(crc));
  head.U64(payloadSize);
  std::copy(header.begin(), header.end(), bytes.begin());
  return bytes;
}

bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error) {
  const std::filesystem::path target(path);
  std::filesystem::path temporary(path);
  temporary += ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (file)
      file.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    if (file) file.close();
    if (!file) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      error = "cannot write " + temporary.string();
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, target, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    error = "cannot replace " + path + ": " + ec.message();
    return false;
  }
  return true;
}

ReadResult ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(path), ec)) {
    return ec ? ReadResult::kFailed : ReadResult::kMissing;
  }
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  if (!file) return ReadResult::kFailed;
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (!file || size < 0) return ReadResult::kFailed;
  file.seekg(0, std::ios::beg);
  bytes.resize(static_cast<std::size_t>(size));
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  return file ? ReadResult::kRead : ReadResult::kFailed;
}

std::string SetAside(const std::string& path) {
  std::string asideName = path + ".damaged";
  std::error_code ec;
  std::filesystem::rename(std::filesystem::path(path), std::filesystem::path(asideName), ec);
  return ec ? std::string() : asideName;
}

}  // namespace instrument
