// RecordText: record ids and times as people type them.
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantorel::records {

// "#12" or "12" as a record id (1 or more); nothing otherwise.
std::optional<std::int64_t> ParseRecordId(const std::string& text);

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM" (UTC) as the store's time text.
std::optional<std::string> ParseSince(const std::string& text);

}  // namespace vantorel::records
