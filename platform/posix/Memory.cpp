#include "platform/Memory.h"

#include <malloc.h>

namespace Platform {

std::size_t MallocBlockSize(void* block) { return malloc_usable_size(block); }

}  // namespace Platform
