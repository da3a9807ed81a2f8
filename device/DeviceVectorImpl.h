// Definitions of DeviceVector's operations. Included only by the .cpp files
// of this library that instantiate a DeviceVector; everyone else sees the
// extern template declarations and uses those instances.
//
// Threads: see DeviceVector.h.
#pragma once

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

#include "device/DeviceVector.h"

namespace Vexil::Device_Cpp {

namespace device_vector_detail {

// Resizes without letting an allocation failure escape: a module may ask for
// any count, and an exception must not unwind through its frames.
template <typename T>
bool TryResize(std::vector<T>& items, std::uint32_t count) {
  try {
    items.resize(count);
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return false;
}

}  // namespace device_vector_detail

template <typename T>
DeviceVector<T>::~DeviceVector() = default;

#if VEXIL_EMULATED_DESTRUCTOR_SLOT
template <typename T>
void* DeviceVector<T>::ScalarDeletingDestructor(unsigned int flags) {
  return boundary_abi::DestroyAndMaybeFree(this, flags);
}
#endif

template <typename T>
std::uint32_t DeviceVector<T>::size() {
  constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
  return items_.size() > kMax ? kMax : static_cast<std::uint32_t>(items_.size());
}

template <typename T>
void DeviceVector<T>::resize(std::uint32_t count) {
  device_vector_detail::TryResize(items_, count);
}

template <typename T>
T& DeviceVector<T>::at(std::uint32_t index) {
  if (index < items_.size()) return items_[index];
  thread_local T scratch{};
  scratch = T{};
  return scratch;
}

}  // namespace Vexil::Device_Cpp
