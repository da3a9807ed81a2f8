// Utf8: the one UTF-8 codec of the product, on utfcpp. Every folder that
// turns bytes into code points or code points into bytes uses these
// functions, so that "valid UTF-8" means the same thing everywhere.
//
// Well-formed UTF-8 is the Unicode standard's: a sequence of one to four
// bytes of the right shape, in its shortest form, encoding a scalar value
// (U+0000..U+10FFFF without the surrogates U+D800..U+DFFF). Two ways of
// meeting anything else are offered: refuse the whole text (DecodeUtf8, for
// texts that must reach the instrument exactly as sent), or replace each
// byte that does not begin a well-formed sequence by U+FFFD and go on with
// the next byte (ForEachCodePoint, SanitizeUtf8, for texts that are only
// shown or written to files). Nothing throws.
//
// Threads: pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace colour {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// True for the Unicode scalar values: U+0000..U+10FFFF without surrogates.
constexpr bool IsScalarValue(char32_t cp) { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

// Decodes `utf8` into `out`. False, with `out` unchanged, when the text is
// not well-formed: truncated or stray sequences, overlong forms, surrogates
// and code points above U+10FFFF are all refused. No byte-order mark is added
// or stripped.
bool DecodeUtf8(std::string_view utf8, std::u32string& out);

// Appends the UTF-8 form of `cp`; a value that is no scalar value (a
// surrogate, anything above U+10FFFF) is appended as U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

// UTF-8 of `text`, AppendUtf8's rule for every unit.
std::string EncodeUtf8(std::u32string_view text);

// The well-formed sequence that starts at text[pos] (pos < text.size()):
// its length in bytes, with its code point in `cp`; 0, with `cp` untouched,
// when no well-formed sequence starts there.
std::size_t NextCodePoint(std::string_view text, std::size_t pos, char32_t& cp);

// Calls `emit(char32_t)` for each code point of `text` in order, and with
// U+FFFD for each byte that begins no well-formed sequence (decoding goes on
// at the next byte, so "\xE2\x82" gives two U+FFFD).
template <typename Emit>
void ForEachCodePoint(std::string_view text, Emit&& emit) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = kReplacementCharacter;
    const std::size_t length = NextCodePoint(text, pos, cp);
    emit(cp);
    pos += length == 0 ? 1 : length;
  }
}

// `text` with ForEachCodePoint's replacements: valid input comes back
// unchanged.
std::string SanitizeUtf8(std::string_view text);

}  // namespace colour
