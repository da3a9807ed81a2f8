#include "client/export/TextFormat.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "colour/Utf8.h"

namespace vantorel::exporter {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string FormatFixed(double value, int decimals) {
  if (!std::isfinite(value) || decimals < 0 || decimals > 12) return {};
  std::array<char, 64> buffer{};
  // |value| beyond 1e40 does not fit; such a value is no reflectance or
  // colour coordinate, but it still gets a readable rendering.
  char* const first = buffer.data();
  char* const last = first + buffer.size();
  std::to_chars_result written =
      std::to_chars(first, last, value, std::chars_format::fixed, decimals);
  if (written.ec != std::errc{}) {
    written = std::to_chars(first, last, value, std::chars_format::scientific, decimals);
    if (written.ec != std::errc{}) return {};
  }
  std::string out(first, written.ptr);
  if (out.starts_with('-') && out.find_first_not_of("-0.") == std::string::npos) out.erase(0, 1);
  return out;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  colour::ForEachCodePoint(text, [&](char32_t cp) {
    switch (cp) {
      case '&':
        out += "&amp;";
        return;
      case '<':
        out += "&lt;";
        return;
      case '>':
        out += "&gt;";
        return;
      case '"':
        out += "&quot;";
        return;
      case '\'':
        out += "&apos;";
        return;
      default:
        break;
    }
    const bool forbidden =
        (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF;
    if (forbidden) {
      out += kReplacement;
    } else {
      colour::AppendUtf8(out, cp);
    }
  });
  return out;
}

std::string CsvField(std::string_view text) {
  std::string field = colour::SanitizeUtf8(text);
  if (field.find_first_of(",\"\n\r") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string CgatsText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  colour::ForEachCodePoint(text, [&](char32_t cp) {
    if (cp == '"') {
      out += '\'';
    } else if (cp < 0x20 || cp == 0x7F) {
      out += ' ';
    } else {
      colour::AppendUtf8(out, cp);
    }
  });
  return out;
}

std::string IsoUtcTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto secs = floor<seconds>(time);
  const auto day = floor<days>(secs);
  const year_month_day date{day};
  const hh_mm_ss clock{secs - day};
  std::array<char, 40> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return buffer.data();
}

}  // namespace vantorel::exporter
