// Fuzz target: the virtual instrument's store file reader, over an
// exact-size copy of the file.
//
// Input: a mode byte, then a file. With bit 0 of the mode set, the file's
// first 24 bytes are replaced by a sound header (magic, version, crc32 and
// size of the rest), so that mutations reach the payload parser instead of
// stopping at the checksum; otherwise the file is parsed as given.
//
// Properties: a rejected file leaves the caller's job list untouched; an
// accepted one writes back to exactly the bytes it was read from (the format
// has one encoding per job list).
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "sim/instrument/StoreFormat.h"
#include "sim/instrument/StoreReader.h"
#include "sim/instrument/StoreWriter.h"

namespace {

void PutU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> WithSoundHeader(const std::uint8_t* file, std::size_t size) {
  using instrument::kStoreHeaderSize;
  const std::size_t payload = size > kStoreHeaderSize ? size - kStoreHeaderSize : 0;
  std::vector<std::uint8_t> bytes(kStoreHeaderSize + payload);
  std::memcpy(bytes.data(), instrument::kStoreMagic, sizeof instrument::kStoreMagic);
  PutU32(bytes.data() + 8, instrument::kStoreVersion);
  if (payload != 0) std::memcpy(bytes.data() + kStoreHeaderSize, file + kStoreHeaderSize, payload);
  const uLong crc =
      crc32(crc32(0L, Z_NULL, 0), bytes.data() + kStoreHeaderSize, static_cast<uInt>(payload));
  PutU32(bytes.data() + 12, static_cast<std::uint32_t>(crc));
  PutU32(bytes.data() + 16, static_cast<std::uint32_t>(payload));
  PutU32(bytes.data() + 20, 0);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool repairHeader = (data[0] & 0x01) != 0;
  std::vector<std::uint8_t> file = repairHeader ? WithSoundHeader(data + 1, size - 1)
                                                : std::vector<std::uint8_t>(data + 1, data + size);
  fuzz::ExactCopy copy(file.data(), file.size());

  std::vector<instrument::JobRecord> jobs(1);
  jobs[0].identifier = "untouched";
  const bool ok =
      instrument::ParseStore(copy.Size() == 0 ? nullptr : copy.Data(), copy.Size(), jobs);
  if (!ok) {
    fuzz::Require(jobs.size() == 1 && jobs[0].identifier == "untouched",
                  "a rejected file changed the job list");
    return 0;
  }
  const std::vector<std::uint8_t> written = instrument::SerializeStore(jobs);
  fuzz::Require(
      written.size() == copy.Size() && std::memcmp(written.data(), copy.Data(), copy.Size()) == 0,
      "an accepted file does not write back to its own bytes");
  return 0;
}
