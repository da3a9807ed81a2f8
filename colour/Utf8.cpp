#include "colour/Utf8.h"

#include <algorithm>
#include <iterator>

#include "utf8cpp/utf8.h"

namespace colour {

bool DecodeUtf8(std::string_view utf8, std::u32string& out) {
  // Validate first, then decode without checks: the checked decoder reports
  // bad input by throwing, and failures here are values.
  if (!utf8::is_valid(utf8.begin(), utf8.end())) return false;
  std::u32string decoded;
  decoded.reserve(utf8.size());
  utf8::unchecked::utf8to32(utf8.begin(), utf8.end(), std::back_inserter(decoded));
  out.swap(decoded);
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  utf8::unchecked::append(IsScalarValue(cp) ? cp : kReplacementCharacter, std::back_inserter(out));
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t cp : text) AppendUtf8(out, cp);
  return out;
}

std::size_t NextCodePoint(std::string_view text, std::size_t pos, char32_t& cp) {
  // A well-formed sequence is at most four bytes long, so validating a window
  // of four keeps the work per code point constant: the window is valid up
  // to its first byte exactly when a well-formed sequence starts there.
  const auto first = text.begin() + static_cast<std::ptrdiff_t>(pos);
  const auto window =
      first + static_cast<std::ptrdiff_t>(std::min<std::size_t>(4, text.size() - pos));
  if (utf8::find_invalid(first, window) == first) return 0;
  auto next = first;
  cp = static_cast<char32_t>(utf8::unchecked::next(next));
  return static_cast<std::size_t>(next - first);
}

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&out](char32_t cp) { AppendUtf8(out, cp); });
  return out;
}

}  // namespace colour
