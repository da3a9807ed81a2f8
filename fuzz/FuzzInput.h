// Helpers shared by the fuzz targets: an exact-size heap copy of the input,
// so that a read one byte past the end is an AddressSanitizer report rather
// than a silent read of the fuzzer's own buffer, and a property check that
// aborts with a message (libFuzzer then keeps the input as a crash).
//
// Threads: each target runs one input at a time on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fuzz {

// `size` bytes on the heap, exactly: no slack after the last byte. A zero
// size still gives a distinct (empty) allocation.
class ExactCopy {
 public:
  ExactCopy(const std::uint8_t* data, std::size_t size)
      : bytes_(new std::uint8_t[size == 0 ? 0 : size]), size_(size) {
    if (size != 0) std::memcpy(bytes_.get(), data, size);
  }
  std::uint8_t* Data() { return bytes_.get(); }
  const std::uint8_t* Data() const { return bytes_.get(); }
  std::size_t Size() const { return size_; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_;
};

// Aborts with `what` when `condition` is false: a broken property is a crash.
inline void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz property violated: %s\n", what);
  std::abort();
}

}  // namespace fuzz
