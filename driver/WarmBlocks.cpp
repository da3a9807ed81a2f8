#include "driver/WarmBlocks.h"

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/Memory.h"

namespace WarmBlocks {
namespace {

struct Kept {
  void* block;
  std::size_t size;
};

// A lock that needs no construction: the hooks may run before and after
// every constructor and destructor of the process. Held for a few dozen
// comparisons at most.
constinit std::atomic_flag g_busy;
class Lock {
 public:
  Lock() {
    while (g_busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  ~Lock() { g_busy.clear(std::memory_order_release); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
};

constinit Kept g_kept[kWarmMaxBlocks] = {};
constinit std::size_t g_count = 0;
constinit std::size_t g_bytes = 0;

}  // namespace

void* Allocate(std::size_t size) {
  if (size >= kWarmMinBytes) {
    const Lock lock;
    std::size_t best = g_count;
    for (std::size_t i = 0; i < g_count; ++i) {
      // Large enough, wasting at most a quarter, and the smallest such.
      if (g_kept[i].size >= size && g_kept[i].size - size <= g_kept[i].size / 4 &&
          (best == g_count || g_kept[i].size < g_kept[best].size)) {
        best = i;
      }
    }
    if (best != g_count) {
      void* block = g_kept[best].block;
      g_bytes -= g_kept[best].size;
      g_kept[best] = g_kept[--g_count];
      return block;
    }
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr && size >= kWarmMinBytes) {
    // The kept blocks may be what stands in the way (a 32-bit process has
    // little address space): give them back and try once more.
    {
      const Lock lock;
      for (std::size_t i = 0; i < g_count; ++i) std::free(g_kept[i].block);
      g_count = 0;
      g_bytes = 0;
    }
    block = std::malloc(size);
  }
  return block;
}

void Release(void* block) {
  if (block == nullptr) return;
  const std::size_t size = Platform::MallocBlockSize(block);
  if (size >= kWarmMinBytes) {
    const Lock lock;
    if (g_count < kWarmMaxBlocks && size <= kWarmMaxBytes - g_bytes) {
      g_kept[g_count++] = {block, size};
      g_bytes += size;
      return;
    }
  }
  std::free(block);
}

std::size_t KeptBytes() {
  const Lock lock;
  return g_bytes;
}

}  // namespace WarmBlocks
