#include "sim/instrument/TextEncoding.h"

#include "colour/Utf8.h"

namespace instrument {

std::string SanitizeForLog(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  colour::ForEachCodePoint(
      bytes, [&out](char32_t cp) { colour::AppendUtf8(out, cp < 0x20 || cp == 0x7F ? U' ' : cp); });
  return out;
}

}  // namespace instrument
