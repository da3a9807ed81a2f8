// Text conversions of the virtual instrument: UTF-32 texts from the driver to
// UTF-8, and arbitrary bytes to one safe line of the instrument's log.
//
// Both functions accept any input; what cannot be represented is replaced by
// U+FFFD, never dropped silently and never passed through unchecked.
//
// Threads: pure functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace instrument {

// UTF-8 encoding of `count` code points at `text`. Surrogates (U+D800..DFFF)
// and values above U+10FFFF become U+FFFD. `text` may be null when count is 0.
std::string Utf32ToUtf8(const char32_t* text, std::size_t count);

// `bytes` made fit for one log line: well-formed UTF-8 sequences are kept,
// every ill-formed byte (bad lead, truncated or overlong sequence, surrogate,
// value above U+10FFFF) becomes U+FFFD, and control characters (U+0000..001F,
// U+007F) become a blank so that a text can never start a new line.
std::string SanitizeForLog(std::string_view bytes);

}  // namespace instrument
