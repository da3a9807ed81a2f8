// The self-test exported by the driver executable: reads the identity of an
// instrument of the second family through that family's module and prints it
// on standard output. It touches nothing else of the driver.
//
// Threads: call from one thread at a time (it writes to standard output).
#pragma once

#include "platform/Export.h"

// Loads "Quarn_Cpp" (or uses it when already loaded), asks its interface for
// the device identity and writes "Device Info:" and one tab-indented line per
// field and per angle name (at most five). A module that cannot be loaded
// gives a message box "Can't load Quarn_Cpp.dll" and no output; a module
// without the interface export gives a message box naming the failed check
// and no call through it.
extern "C" VANTOREL_EXPORT void TestQuarn();
