// Platform terminal handling for tools that talk to a person: detection of a
// terminal (progress lines are drawn only when someone watches) and text
// output that shows every character on a Windows console.
//
// Threads: may be called from any thread; a stream buffer returned by
// OpenConsoleText belongs to one thread at a time, like any stream buffer.
#pragma once

#include <memory>
#include <streambuf>

namespace Platform {

// True when the process's standard error stream is a terminal (a console on
// Windows); false for files, pipes and when it cannot be told.
bool StandardErrorIsTerminal();

enum class StandardStream { kOutput, kError };

// A stream buffer that shows the UTF-8 text written to it on the console
// that `stream` is attached to, every character as written whatever the
// console's code page (Windows: converted to UTF-16 and written with
// WriteConsoleW). Text appears on flush and whenever the buffer fills; a
// UTF-8 sequence cut by a flush waits for its rest; bytes that are not UTF-8
// show as U+FFFD. Destroying the buffer shows what it still holds.
// Null when `stream` is not a console (a file or a pipe, which get the UTF-8
// bytes unchanged through the standard streams), and always on POSIX, where a
// terminal takes UTF-8 bytes as they are.
std::unique_ptr<std::streambuf> OpenConsoleText(StandardStream stream);

}  // namespace Platform
