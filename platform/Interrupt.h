// Platform interrupt handling for tools that wait on something a person may
// give up on: while an InterruptWatch lives, the user's interrupt (Ctrl-C in
// a terminal: SIGINT on POSIX, the console's Ctrl-C and Ctrl-Break events on
// Windows) no longer ends the process; it is recorded, and the tool can say
// what its interruption leaves behind before it ends. When the last watch
// ends, the interrupt ends the process again as before.
//
// Threads: watches may be created and destroyed on any thread; Interrupted()
// may be called from any thread. The flag is set from a signal handler (or
// the console's handler thread) and is lock-free.
#pragma once

namespace Platform {

class InterruptWatch {
 public:
  // Starts catching the interrupt; the flag starts cleared when no other
  // watch is alive.
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // True once the user interrupted while a watch was alive.
  bool Interrupted() const;
};

}  // namespace Platform
