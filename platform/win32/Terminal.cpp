// Windows terminal handling. Console output goes through WriteConsoleW: UTF-8
// bytes written with WriteFile are read in the console's code page, which is
// rarely UTF-8 and cannot be changed for good without touching the user's
// console for other programs.
#include "platform/Terminal.h"

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string_view>

#include "platform/win32/WideText.h"

namespace Platform {
namespace {

class ConsoleTextBuffer final : public std::streambuf {
 public:
  explicit ConsoleTextBuffer(HANDLE console) : console_(console) {
    setp(buffer_, buffer_ + sizeof buffer_);
  }
  ~ConsoleTextBuffer() override { Show(true); }

 protected:
  int_type overflow(int_type ch) override {
    if (!Show(false)) return traits_type::eof();
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
    return ch;
  }
  int sync() override { return Show(false) ? 0 : -1; }

 private:
  // Writes the complete UTF-8 sequences held (everything when `all`) and
  // moves the rest to the front. False when the console refused the text.
  bool Show(bool all) {
    const std::string_view held(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    const std::size_t complete = all ? held.size() : Win32::CompleteUtf8Prefix(held);
    bool ok = true;
    const std::wstring wide = Win32::Utf8ToWide(held.substr(0, complete));
    for (std::size_t done = 0; ok && done < wide.size();) {
      DWORD written = 0;
      const std::size_t left = wide.size() - done;
      const DWORD chunk = static_cast<DWORD>(left < 8192 ? left : 8192);
      ok =
          WriteConsoleW(console_, wide.data() + done, chunk, &written, nullptr) != 0 && written > 0;
      done += written;
    }
    const std::size_t rest = held.size() - complete;
    std::char_traits<char>::move(buffer_, held.data() + complete, rest);
    setp(buffer_, buffer_ + sizeof buffer_);
    pbump(static_cast<int>(rest));
    return ok;
  }

  HANDLE console_;
  char buffer_[4096];
};

}  // namespace

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::unique_ptr<std::streambuf> OpenConsoleText(StandardStream stream) {
  const HANDLE handle =
      GetStdHandle(stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetConsoleMode(handle, &mode) == 0) {
    return nullptr;
  }
  return std::make_unique<ConsoleTextBuffer>(handle);
}

}  // namespace Platform
