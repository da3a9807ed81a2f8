// StoreWriter: the store file's bytes for a job list, and the file
// operations that keep the file trustworthy: an atomic replace and setting a
// damaged file aside.
//
// Threads: SerializeStore is pure. The file functions touch only the paths
// they are given; callers serialise writes to the same path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/instrument/JobRecord.h"

namespace instrument {

// The complete file (header and payload) for `jobs`, in the layout of
// StoreFormat.h. Texts, tag vectors and images longer than the format's limits
// cannot occur: AddJob and the measurement keep within them.
std::vector<std::uint8_t> SerializeStore(const std::vector<JobRecord>& jobs);

// Writes `bytes` to "<path>.tmp", then renames it over `path`, so that `path`
// always holds either the old or the new complete file. False (and a short
// reason in `error`) when either step fails; the temporary file is removed.
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error);

enum class ReadResult { kRead, kMissing, kFailed };

// Reads the whole file into `bytes`. kMissing when there is no such file,
// kFailed when it exists but cannot be read (bytes unspecified then).
ReadResult ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// Renames `path` to "<path>.damaged" (replacing an older one) so that it is
// kept for inspection but never read again. Returns the new name, or empty
// when the rename failed.
std::string SetAside(const std::string& path);

}  // namespace instrument
