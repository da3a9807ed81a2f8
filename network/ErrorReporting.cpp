// The hooks, the report formatting and the reported allocation that a
// program's replacement operators new are built on.
#include "network/ErrorReporting.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace Network {
namespace {

void IgnoreError(void*, const char*, std::int32_t) {}
void* DefaultAllocate(std::size_t size) { return std::malloc(size); }
void DefaultRelease(void* block) { std::free(block); }

// Atomics with relaxed order: plain variables in cost, but free of data races
// when a test swaps hooks while a worker thread allocates.
constinit std::atomic<ErrorHandler> g_handler{&IgnoreError};
constinit std::atomic<AllocateFunction> g_allocate{&DefaultAllocate};
constinit std::atomic<ReleaseFunction> g_release{&DefaultRelease};

// Set while this thread reports an allocation failure (see header).
constinit thread_local bool t_reportingAllocation = false;

}  // namespace

void SetErrorHandler(ErrorHandler handler) {
  const ErrorHandler previous = g_handler.load(std::memory_order_relaxed);
  previous(nullptr, "Error handler already set! Previous error handler will be overwritten",
           kErrorHandlerReplacedCode);
  g_handler.store(handler != nullptr ? handler : &IgnoreError, std::memory_order_relaxed);
}

void SetMemoryFunctions(AllocateFunction allocate, ReleaseFunction release) {
  g_allocate.store(allocate != nullptr ? allocate : &DefaultAllocate, std::memory_order_relaxed);
  g_release.store(release != nullptr ? release : &DefaultRelease, std::memory_order_relaxed);
}

void ReportError(void* source, std::int32_t code, const char* format, ...) {
  char messageBuffer[kMessageBufferSize] = {};
  va_list values;
  va_start(values, format);
  // vsnprintf writes at most 511 characters and the terminating NUL.
  std::vsnprintf(messageBuffer, sizeof messageBuffer, format, values);
  va_end(values);
  g_handler.load(std::memory_order_relaxed)(source, messageBuffer, code);
}

void ReportText(void* source, std::int32_t code, const char* text) {
  g_handler.load(std::memory_order_relaxed)(source, text, code);
}

void* AllocateWithHook(std::size_t size) {
  return g_allocate.load(std::memory_order_relaxed)(size);
}

void ReleaseWithHook(void* block) { g_release.load(std::memory_order_relaxed)(block); }

namespace {

// Marks this thread as reporting an allocation failure for the life of the
// guard, so that the flag is cleared on every way out, a handler that throws
// included.
class ReportingAllocation {
 public:
  ReportingAllocation() { t_reportingAllocation = true; }
  ~ReportingAllocation() { t_reportingAllocation = false; }
  ReportingAllocation(const ReportingAllocation&) = delete;
  ReportingAllocation& operator=(const ReportingAllocation&) = delete;
};

}  // namespace

void* AllocateReported(std::size_t size) {
  void* block = AllocateWithHook(size == 0 ? 1 : size);
  if (block == nullptr && !t_reportingAllocation) {
    const ReportingAllocation guard;
    ReportError(nullptr, kAllocationFailedCode,
                "Memory allocation failed. Can't allocate %zu bytes. Network library can work "
                "unstable",
                size);
  }
  return block;
}

}  // namespace Network
