// Platform terminal detection, for tools that draw progress lines only when a
// person is watching.
//
// Threads: may be called from any thread.
#pragma once

namespace Platform {

// True when the process's standard error stream is a terminal (a console on
// Windows); false for files, pipes and when it cannot be told.
bool StandardErrorIsTerminal();

}  // namespace Platform
