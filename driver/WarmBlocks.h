// WarmBlocks: the driver's allocation hooks (Network::SetMemoryFunctions).
// They keep large blocks that are freed for the next allocations of about
// the same size, so that the image bytes of one answer land in memory the
// previous answer touched, not in fresh pages: the C runtime of the product
// (Windows) returns every large block to the system when it is freed, and
// every first touch of a fresh page is a page fault.
//
// Only blocks of at least kWarmMinBytes are kept, at most kWarmMaxBlocks of
// them and kWarmMaxBytes in all; a block is handed out again only for a
// request that needs at least three quarters of it. Everything else goes to
// malloc and free unchanged, so blocks allocated before the hooks were
// installed may be released through them.
//
// Threads: both hooks may be called from any thread, also before main and
// after exit begins (one spin lock, taken for large blocks only).
#pragma once

#include <cstddef>

namespace WarmBlocks {

inline constexpr std::size_t kWarmMinBytes = 512 * 1024;
inline constexpr std::size_t kWarmMaxBlocks = 32;
inline constexpr std::size_t kWarmMaxBytes = 64u * 1024 * 1024;

// A block of at least `size` bytes from malloc or from the kept ones; null
// when malloc fails.
void* Allocate(std::size_t size);
// Keeps a large block (room permitting) or frees it. Null is ignored.
void Release(void* block);
// The bytes kept now.
std::size_t KeptBytes();

}  // namespace WarmBlocks
