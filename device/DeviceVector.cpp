#include "device/DeviceVector.h"

#include <algorithm>

#include "device/DeviceVectorImpl.h"

namespace Vexil::Device_Cpp {

// Byte vectors come back all zero after a resize, old bytes included, so a
// module that resizes an out-parameter never sees stale bytes.
template <>
void DeviceVector<std::uint8_t>::resize(std::uint32_t count) {
  if (device_vector_detail::TryResize(items_, count)) {
    std::fill(items_.begin(), items_.end(), std::uint8_t{0});
  }
}

template class DeviceVector<std::uint8_t>;
template class DeviceVector<float>;
template class DeviceVector<IString>;
template class DeviceVector<std::int32_t>;

}  // namespace Vexil::Device_Cpp
