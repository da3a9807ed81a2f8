// Platform process exit.
//
// Threads: may be called from any thread; neither function returns.
#pragma once

namespace Platform {

// Ends the process at once with `code`: no exit handlers, no destructors of
// static objects, no flushing of standard streams.
[[noreturn]] void ExitImmediately(int code);

// Ends the process through the runtime's normal exit with `code`: exit
// handlers and destructors of static objects run, streams are flushed.
[[noreturn]] void ExitNormally(int code);

}  // namespace Platform
