// UTF-8 to UTF-32 conversion for texts the client sends as UTF-32 (user
// messages).
//
// Threads: pure function.
#pragma once

#include <string>

namespace vantorel {

// Decodes `utf8` into `out`. False, with `out` left empty, when the bytes are
// not valid UTF-8 (overlong forms, surrogates and code points above 0x10FFFF
// are invalid).
bool Utf8ToUtf32(const std::string& utf8, std::u32string& out);

}  // namespace vantorel
