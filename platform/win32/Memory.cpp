#include "platform/Memory.h"

#include <malloc.h>

namespace Platform {

std::size_t MallocBlockSize(void* block) { return _msize(block); }

}  // namespace Platform
