// TextEncoding: arbitrary bytes made into one safe line of the instrument's
// log. What cannot be represented is replaced by U+FFFD, never dropped
// silently and never passed through unchecked. (UTF-32 texts from the driver
// become UTF-8 with colour::EncodeUtf8.)
//
// Threads: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace instrument {

// `bytes` made fit for one log line: well-formed UTF-8 sequences are kept,
// every ill-formed byte becomes U+FFFD (colour::ForEachCodePoint's rule), and
// control characters (U+0000..001F, U+007F) become a blank so that a text can
// never start a new line.
std::string SanitizeForLog(std::string_view bytes);

}  // namespace instrument
