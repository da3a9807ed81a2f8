// Fuzz target: the CxF3 reader of `vantorelctl compare` (rapidxml underneath),
// over an exact-size copy of the document.
//
// Input: a CxF3 document, any bytes.
//
// Properties: an accepted document yields at least one value, every value
// finite and every geometry named once; a refused one says why.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "client/quality/CxfReader.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ExactCopy input(data, size);
  std::string text(reinterpret_cast<const char*>(input.Data()), input.Size());
  const vantorel::quality::SideRead read = vantorel::quality::ReadCxfText(std::move(text), "fuzz");
  if (!read.ok) {
    fuzz::Require(!read.error.empty(), "a refused document says why");
    return 0;
  }
  fuzz::Require(!read.side.values.empty(), "an accepted document has values");
  std::set<std::string> names;
  for (const auto& value : read.side.values) {
    fuzz::Require(
        std::isfinite(value.lab.l) && std::isfinite(value.lab.a) && std::isfinite(value.lab.b),
        "values are finite");
    fuzz::Require(names.insert(value.geometry).second, "each geometry once");
  }
  return 0;
}
