// The driver process's allocation policy: every allocation of the process
// goes through the network library's hooks, and the hooks keep large blocks
// warm (WarmBlocks.h).
//
// AllocationPolicy.cpp replaces the global operators new and delete: the
// throwing forms report code 3 (Network::AllocateReported) and throw
// std::bad_alloc when the hook yields null, the nothrow forms report and
// return null, every form of delete hands the block to the release hook. The
// over-aligned forms (std::align_val_t) stay those of the runtime. Only the
// driver executable, and the tests and fuzz targets that check its
// behaviour, link this policy (CMake target vantorel_allocation_policy);
// every other program runs on the runtime's allocator.
//
// Threads: Install must run before other threads allocate; the operators may
// run on any thread, also before main and after exit begins.
#pragma once

namespace AllocationPolicy {

// Installs the warm-block hooks (Network::SetMemoryFunctions). Blocks taken
// before go back through them safely: they hand what they do not keep to
// free.
void Install();

}  // namespace AllocationPolicy
