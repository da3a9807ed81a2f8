// Platform memory: what the C runtime's allocator knows about its blocks.
//
// Threads: may be called from any thread, on blocks nobody frees meanwhile.
#pragma once

#include <cstddef>

namespace Platform {

// The usable size of `block`, a non-null block from the C runtime's malloc
// not yet freed: at least the size it was asked for.
std::size_t MallocBlockSize(void* block);

}  // namespace Platform
