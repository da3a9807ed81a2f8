// Text helpers of the foreign modules: lengths, comparison, bounded copies,
// decimal numbers and UTF-8 encoding, without any runtime library.
//
// Threads: pure functions, and Line values owned by one thread.
#pragma once

#include "foreign/ForeignContract.h"

namespace foreign {

constexpr u32 Length(const char* text) {
  u32 n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

constexpr bool Equal(const char* a, const char* b) {
  for (; *a != '\0' && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

// Copies `text` into `out` (room for `capacity` bytes, terminator included),
// cutting it if needed.
inline void CopyText(char* out, u32 capacity, const char* text) {
  if (capacity == 0) return;
  u32 i = 0;
  for (; i + 1 < capacity && text[i] != '\0'; ++i) out[i] = text[i];
  out[i] = '\0';
}

// A terminated text of at most N - 1 bytes, built by appending; what does
// not fit is dropped.
template <u32 N>
class Line {
 public:
  Line& Add(const char* text) {
    for (; *text != '\0'; ++text) Byte(static_cast<u8>(*text));
    return *this;
  }
  Line& Add(const char* text, u32 count) {
    for (u32 i = 0; i < count; ++i) Byte(static_cast<u8>(text[i]));
    return *this;
  }
  Line& Number(i32 value) {
    if (value < 0) Byte('-');
    // Negate in unsigned arithmetic: defined for the most negative value too.
    u32 magnitude = value < 0 ? 0u - static_cast<u32>(value) : static_cast<u32>(value);
    char digits[10];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    while (n > 0) Byte(static_cast<u8>(digits[--n]));
    return *this;
  }
  // Appends one code point as UTF-8; surrogates and values above U+10FFFF
  // become U+FFFD.
  Line& CodePoint(char32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
      Byte(static_cast<u8>(c));
    } else if (c < 0x800) {
      Byte(static_cast<u8>(0xC0 | (c >> 6)));
      Byte(static_cast<u8>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      Byte(static_cast<u8>(0xE0 | (c >> 12)));
      Byte(static_cast<u8>(0x80 | ((c >> 6) & 0x3F)));
      Byte(static_cast<u8>(0x80 | (c & 0x3F)));
    } else {
      Byte(static_cast<u8>(0xF0 | (c >> 18)));
      Byte(static_cast<u8>(0x80 | ((c >> 12) & 0x3F)));
      Byte(static_cast<u8>(0x80 | ((c >> 6) & 0x3F)));
      Byte(static_cast<u8>(0x80 | (c & 0x3F)));
    }
    return *this;
  }
  const char* Chars() const { return text_; }
  u32 Size() const { return size_; }

 private:
  void Byte(u8 b) {
    if (size_ + 1 < N) {
      text_[size_++] = static_cast<char>(b);
      text_[size_] = '\0';
    }
  }
  char text_[N] = {};
  u32 size_ = 0;
};

}  // namespace foreign
