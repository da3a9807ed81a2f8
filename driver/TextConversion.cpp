#include "driver/TextConversion.h"

#include <iterator>

#include "utf8cpp/utf8.h"

bool DecodeUtf8(const std::string& utf8, std::u32string& out) {
  if (!utf8::is_valid(utf8.begin(), utf8.end())) return false;
  std::u32string decoded;
  decoded.reserve(utf8.size());
  utf8::unchecked::utf8to32(utf8.begin(), utf8.end(), std::back_inserter(decoded));
  out.swap(decoded);
  return true;
}
