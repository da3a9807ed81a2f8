// The replaced global operators new and delete of the driver process, on the
// network library's hooks, and the installation of the warm-block hooks.
#include "driver/AllocationPolicy.h"

#include <cstddef>
#include <new>

#include "driver/WarmBlocks.h"
#include "network/ErrorReporting.h"

namespace AllocationPolicy {

void Install() { Network::SetMemoryFunctions(&WarmBlocks::Allocate, &WarmBlocks::Release); }

}  // namespace AllocationPolicy

void* operator new(std::size_t size) {
  void* block = Network::AllocateReported(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* operator new[](std::size_t size) {
  void* block = Network::AllocateReported(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Network::AllocateReported(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Network::AllocateReported(size);
}

void operator delete(void* block) noexcept {
  if (block != nullptr) Network::ReleaseWithHook(block);
}

void operator delete[](void* block) noexcept {
  if (block != nullptr) Network::ReleaseWithHook(block);
}

void operator delete(void* block, std::size_t) noexcept {
  if (block != nullptr) Network::ReleaseWithHook(block);
}

void operator delete[](void* block, std::size_t) noexcept {
  if (block != nullptr) Network::ReleaseWithHook(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
  if (block != nullptr) Network::ReleaseWithHook(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
  if (block != nullptr) Network::ReleaseWithHook(block);
}
