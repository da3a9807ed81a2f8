// DeviceVector<T>: the growable arrays that cross the device boundary, and the
// vectors of plain elements (IUintVector8, IFloatVector, IStringVector,
// ImageChannelContentTypeVector).
//
// Like every value class in device/, a vector is reached by a device module
// only through its virtual operations (destructor as in BoundaryAbi.h, size,
// resize, at, in that slot order), which are instantiated once, in this library; a module never
// constructs a vector or touches its array. The driver fills the array
// directly through Items().
//
// Untrusted use is defined: at() with an index at or above size() is outside
// the contract but touches nothing outside the vector (see at()), and a
// resize that cannot be allocated leaves the vector as it was.
//
// Threads: a vector belongs to one thread at a time; no locks.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "device/BoundaryAbi.h"
#include "device/IString.h"

namespace Vexil::Device_Cpp {

template <typename T>
class DeviceVector {
 public:
  DeviceVector() = default;
  DeviceVector(std::initializer_list<T> items) : items_(items) {}
  explicit DeviceVector(std::vector<T> items) : items_(std::move(items)) {}
  DeviceVector(const DeviceVector&) = default;
  DeviceVector(DeviceVector&&) = default;
  DeviceVector& operator=(const DeviceVector&) = default;
  DeviceVector& operator=(DeviceVector&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(DeviceVector);
  // Element count (saturates at UINT32_MAX).
  virtual std::uint32_t size();
  // Keeps the first min(size, count) elements and value-initialises the new
  // ones; IUintVector8 instead sets every byte to 0 afterwards, kept ones
  // included. Leaves the vector unchanged if the memory cannot be had.
  virtual void resize(std::uint32_t count);
  // The element at `index`, which must lie below size(). For a larger index
  // the result is a scratch element private to the calling thread, reset to
  // its default value on every such call: reads see a default element and
  // writes are lost. The reference to a real element is valid until the next
  // resize or change of the array.
  virtual T& at(std::uint32_t index);

  // Driver-side direct access to the array.
  std::vector<T>& Items() { return items_; }
  const std::vector<T>& Items() const { return items_; }

 private:
  std::vector<T> items_;
};

template <>
void DeviceVector<std::uint8_t>::resize(std::uint32_t count);

using IUintVector8 = DeviceVector<std::uint8_t>;
using IFloatVector = DeviceVector<float>;
using IStringVector = DeviceVector<IString>;
// Elements are image channel content types (the driver asks for type 0).
using ImageChannelContentTypeVector = DeviceVector<std::int32_t>;

// Instantiated in DeviceVector.cpp (and the record vectors next to their
// element types), so the virtual operations exist once, in this library.
extern template class DeviceVector<std::uint8_t>;
extern template class DeviceVector<float>;
extern template class DeviceVector<IString>;
extern template class DeviceVector<std::int32_t>;

}  // namespace Vexil::Device_Cpp
