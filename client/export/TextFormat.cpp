#include "client/export/TextFormat.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace vantorel::exporter {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Appends the code point as UTF-8; `cp` is a valid scalar value.
void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the code point starting at text[pos]. Returns the number of bytes
// it occupies, or 0 when the bytes there are not a valid UTF-8 sequence.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, std::uint32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

// Calls `emit(cp)` for each code point of `text`, with U+FFFD for each
// invalid byte.
template <typename Emit>
void ForEachCodePoint(std::string_view text, Emit emit) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::uint32_t cp = 0;
    const std::size_t length = DecodeUtf8(text, pos, cp);
    if (length == 0) {
      emit(0xFFFDu);
      ++pos;
    } else {
      emit(cp);
      pos += length;
    }
  }
}

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

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](std::uint32_t cp) { AppendUtf8(out, cp); });
  return out;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  ForEachCodePoint(text, [&](std::uint32_t cp) {
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
      AppendUtf8(out, cp);
    }
  });
  return out;
}

std::string CgatsText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](std::uint32_t cp) {
    if (cp == '"') {
      out += '\'';
    } else if (cp < 0x20 || cp == 0x7F) {
      out += ' ';
    } else {
      AppendUtf8(out, cp);
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
