// FileText: reads a whole input file of compare (result.json, a CxF3 file, a
// tolerance file) with a size limit, so that a wrong path to a huge file
// fails with a message instead of exhausting memory.
//
// Threads: no shared state.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace vantorel::quality {

inline constexpr std::size_t kMaxInputBytes = 64u << 20;

// The bytes of `path`. False with `error` set (naming the path) when it
// cannot be opened or read, or is larger than `maxBytes`.
bool ReadFileText(const std::filesystem::path& path, std::string& text, std::string& error,
                  std::size_t maxBytes = kMaxInputBytes);

}  // namespace vantorel::quality
