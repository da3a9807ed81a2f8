// Platform threads: starting detached worker threads.
//
// Threads: may be called from any thread.
#pragma once

#include <functional>

namespace Platform {

// Runs `work` on a new detached thread. Nobody waits for the thread: `work`
// must own (or share) everything it touches. False when the thread cannot be
// started; `work` is then not run.
bool StartDetachedThread(std::function<void()> work);

}  // namespace Platform
