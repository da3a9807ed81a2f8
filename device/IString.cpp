#include "device/IString.h"

#include <limits>
#include <new>
#include <stdexcept>

namespace Vexil::Device_Cpp {

namespace {

template <typename S>
std::uint32_t SaturatedLength(const S& text) {
  constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
  return text.size() > kMax ? kMax : static_cast<std::uint32_t>(text.size());
}

// A module's text may be of any length: an allocation failure keeps the old
// content rather than letting an exception cross the module boundary.
template <typename S, typename C>
void AssignTerminated(S& target, const C* text) {
  try {
    if (text == nullptr) {
      target.clear();
    } else {
      target.assign(text);
    }
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
}

}  // namespace

IString::IString(const char* text) { AssignTerminated(text_, text); }
IString::~IString() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(IString)
void IString::Set(const char* text) { AssignTerminated(text_, text); }
const char* IString::c_str() { return text_.c_str(); }
std::uint32_t IString::length() { return SaturatedLength(text_); }

IString32::IString32(const char32_t* text) { AssignTerminated(text_, text); }
IString32::~IString32() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(IString32)
void IString32::Set(const char32_t* text) { AssignTerminated(text_, text); }
const char32_t* IString32::c_str() { return text_.c_str(); }
std::uint32_t IString32::length() { return SaturatedLength(text_); }

}  // namespace Vexil::Device_Cpp
