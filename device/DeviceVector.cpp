#include "device/DeviceVector.h"

#include <algorithm>

#include "device/DeviceVectorImpl.h"

namespace Vexil::Device_Cpp {

// Byte vectors come back all zero after a resize, old bytes included, so a
// module that resizes an out-parameter never sees stale bytes. The bytes the
// resize adds are zero already: only the kept ones are cleared, so that an
// image a module is about to copy in is not written twice beforehand.
template <>
void DeviceVector<std::uint8_t>::resize(std::uint32_t count) {
  const std::size_t kept = std::min<std::size_t>(items_.size(), count);
  if (device_vector_detail::TryResize(items_, count)) {
    std::fill(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(kept), std::uint8_t{0});
  }
}

template class DeviceVector<std::uint8_t>;
template class DeviceVector<float>;
template class DeviceVector<IString>;
template class DeviceVector<std::int32_t>;

}  // namespace Vexil::Device_Cpp
