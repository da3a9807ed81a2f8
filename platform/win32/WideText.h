// UTF-8 <-> UTF-16 conversion for the Windows implementations only.
//
// Threads: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace Platform::Win32 {

// Invalid UTF-8 sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// The length of `text` without a UTF-8 sequence that is cut off at its end
// (a lead byte whose continuation bytes have not all arrived); text.size()
// when nothing is cut off. Invalid bytes count as complete.
std::size_t CompleteUtf8Prefix(std::string_view text);

}  // namespace Platform::Win32
