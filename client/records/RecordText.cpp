#include "client/records/RecordText.h"

#include <cstdio>

namespace vantorel::records {

std::optional<std::int64_t> ParseRecordId(const std::string& text) {
  std::size_t i = text.starts_with("#") ? 1 : 0;
  if (i >= text.size() || text.size() - i > 15) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (value < 1) return std::nullopt;
  return value;
}

std::optional<std::string> ParseSince(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  char rest = 0;
  const bool dateOnly = text.size() == 10;
  const bool withTime = text.size() == 16 && text[10] == 'T';
  if (!dateOnly && !withTime) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool separator = i == 4 || i == 7 || i == 10 || i == 13;
    if (separator) continue;
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  if (text[4] != '-' || text[7] != '-' || (withTime && text[13] != ':')) return std::nullopt;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d", &year, &month, &day) != 3) return std::nullopt;
  if (withTime && std::sscanf(text.c_str() + 11, "%2d:%2d%c", &hour, &minute, &rest) != 2) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59) {
    return std::nullopt;
  }
  char out[96];
  std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:00Z", year, month, day, hour, minute);
  return std::string(out);
}

}  // namespace vantorel::records
