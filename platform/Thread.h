// Platform threads: starting detached worker threads.
//
// Threads: may be called from any thread.
#pragma once

#include <functional>

namespace Platform {

// Runs `work` on a detached thread of its own: one that finished an earlier
// item and waits for the next, else a new one; it never waits for another
// item to finish. Nobody waits for the thread: `work` must own (or share)
// everything it touches, and a thread keeps its thread-local values from one
// item to the next. False when no thread can be started; `work` is then not
// run.
bool StartDetachedThread(std::function<void()> work);

}  // namespace Platform
