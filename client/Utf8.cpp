#include "client/Utf8.h"

#include <iterator>

#include "utf8cpp/utf8.h"

namespace vantorel {

bool Utf8ToUtf32(const std::string& utf8, std::u32string& out) {
  out.clear();
  // Validate first, then decode without checks: the checked decoder reports
  // bad input by throwing, and failures here are values.
  if (!utf8::is_valid(utf8.begin(), utf8.end())) return false;
  utf8::unchecked::utf8to32(utf8.begin(), utf8.end(), std::back_inserter(out));
  return true;
}

}  // namespace vantorel
