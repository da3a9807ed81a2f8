// Error reporting and allocation hooks of the network library.
//
// Every failure the library detects goes to one process-wide error handler
// as a source (the Connection concerned, or null), a text and a code. The
// library takes the memory of its message objects from the allocation hook
// and gives it back through the release hook; everything else it allocates
// comes from the nothrow forms of operator new and is tested for null.
//
// The library does not replace the global operators new and delete: that is
// a policy of the program. A program that routes every allocation through
// the hooks (the driver, driver/AllocationPolicy.h) defines them on
// AllocateReported and ReleaseWithHook; AllocateReported then reports code 3
// when the hook yields null, and the program's throwing forms throw
// std::bad_alloc while its nothrow forms return null. Other programs (the
// client tool, the benchmarks) keep the runtime's operators.
//
// Threads: the hooks are process-wide and must be set before other threads
// use the library or allocate. ReportError keeps its text on the caller's
// stack and may run on several threads at once; the handler must then be
// safe to call from each of them. A handler that allocates while the
// allocation hook fails does not recurse: a failure inside a code-3 report on
// the same thread is not reported again.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Network {

// source: the Connection concerned or null; message: NUL-terminated, valid
// only during the call; code: one of the codes below.
using ErrorHandler = void (*)(void* source, const char* message, std::int32_t code);
// Returns a block of at least `size` bytes aligned for any scalar, or null.
using AllocateFunction = void* (*)(std::size_t size);
using ReleaseFunction = void (*)(void* block);

// Error codes; each names one failure site.
inline constexpr std::int32_t kErrorHandlerReplacedCode = 2;
inline constexpr std::int32_t kAllocationFailedCode = 3;
inline constexpr std::int32_t kStateFailedCode = 5;
inline constexpr std::int32_t kSendFailedCode = 6;
inline constexpr std::int32_t kReceiveFailedCode = 7;
inline constexpr std::int32_t kReceiveMemoryCode = 8;

// Size of the formatting buffer: texts are cut to kMessageBufferSize - 1.
inline constexpr std::size_t kMessageBufferSize = 512;

// Installs `handler`. The handler installed so far (at first a handler that
// does nothing) is first called with no source, "Error handler already set!
// Previous error handler will be overwritten" and code 2. Null installs the
// do-nothing handler.
void SetErrorHandler(ErrorHandler handler);

// Installs the allocation and release hooks (defaults: malloc and free).
// Blocks obtained earlier are released through the new release hook, so the
// two must be compatible with what was allocated before. Null restores the
// default of that hook.
void SetMemoryFunctions(AllocateFunction allocate, ReleaseFunction release);

// Formats `format` with printf conventions (including %zu and %u) into a
// zeroed 512-byte buffer, cutting longer texts to 511 characters, and calls
// the error handler with `source`, the text and `code`. Allocates nothing.
void ReportError(void* source, std::int32_t code, const char* format, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 3, 4)));
#else
    __attribute__((format(printf, 3, 4)));
#endif

// Calls the error handler with `text` as it stands.
void ReportText(void* source, std::int32_t code, const char* text);

// Calls the current allocation / release hook directly: no report, no
// exception. For storage whose failure the caller handles itself.
void* AllocateWithHook(std::size_t size);
void ReleaseWithHook(void* block);

// Calls the allocation hook for `size` bytes (1 for a request of 0, so that
// every successful call returns a distinct block). When the hook yields
// null, reports "Memory allocation failed. Can't allocate <size> bytes.
// Network library can work unstable" with no source and code 3, unless this
// thread is already inside such a report, and returns null. For the global
// operators new of a program that replaces them.
void* AllocateReported(std::size_t size);

}  // namespace Network
