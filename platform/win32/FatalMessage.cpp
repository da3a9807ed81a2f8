// Windows fatal messages: a modal message box.
#include "platform/FatalMessage.h"

#include <windows.h>

#include "platform/win32/WideText.h"

namespace Platform {

void ShowFatalMessage(std::string_view utf8Text) {
  const std::wstring text = Win32::Utf8ToWide(utf8Text);
  MessageBoxW(nullptr, text.c_str(), L"Error", MB_ICONERROR | MB_OK);
}

void ShowFatalMessageAnsi(const char* text) {
  MessageBoxA(nullptr, text != nullptr ? text : "", "Error", MB_ICONERROR | MB_OK);
}

}  // namespace Platform
