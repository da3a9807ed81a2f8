// Strict UTF-8 to UTF-32 conversion for texts that clients send.
//
// Threads: pure functions.
#pragma once

#include <string>

// Decodes `utf8` into `out`. False, with `out` unchanged, when the text is
// not valid UTF-8: truncated or stray sequences, overlong forms, surrogates
// and code points above U+10FFFF are all refused. No byte-order mark is added
// or stripped.
bool DecodeUtf8(const std::string& utf8, std::u32string& out);
