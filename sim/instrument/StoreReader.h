// StoreReader: turns the bytes of a store file back into the job list.
//
// ParseStore trusts nothing: it checks the magic, the version, the payload
// size and the crc32 before it looks at the payload, and every count and
// length against both its limit and the bytes that remain before it reads or
// allocates. Any violation rejects the whole file.
//
// Threads: pure function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/instrument/JobRecord.h"

namespace instrument {

// Parses `size` bytes at `data` (null only when size is 0). On success
// replaces `jobs` and returns true; on any damage returns false and leaves
// `jobs` unchanged. Jobs keep their stored state code; a restart that finds
// one measuring decides itself what it becomes.
bool ParseStore(const std::uint8_t* data, std::size_t size, std::vector<JobRecord>& jobs);

}  // namespace instrument
