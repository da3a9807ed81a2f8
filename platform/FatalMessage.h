// Platform fatal messages: telling the user why the process is about to end.
//
// Windows shows a modal message box without owner window, caption "Error",
// an error icon and an OK button, and returns when it is closed. Linux writes
// the line "Error: <text>" to standard error.
//
// Threads: may be called from any thread; blocks the caller while the box is
// shown.
#pragma once

#include <string_view>

namespace Platform {

// `utf8Text` is UTF-8 (MessageBoxW on Windows).
void ShowFatalMessage(std::string_view utf8Text);

// `text` is in the system's narrow code page (MessageBoxA on Windows).
void ShowFatalMessageAnsi(const char* text);

}  // namespace Platform
