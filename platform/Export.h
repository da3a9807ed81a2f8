// Export macro for the types the driver executable makes available to the
// modules it loads (Module.h): the measurement records, Lab, QuarnInterface,
// TestQuarn. It sits here, below messages/ and device/ alike, because both
// declare such types; the device SDK installs it with the device headers.
//
// On Windows everything built into the executable (and into test programs)
// exports them with __declspec(dllexport); a module that uses the
// executable's definitions is compiled with VANTOREL_IMPORTING and imports
// them. On Linux they get default visibility and the executable is linked
// with its symbols exported (-rdynamic).
//
// Threads: a macro only.
#pragma once

#if defined(_WIN32)
#if defined(VANTOREL_IMPORTING)
#define VANTOREL_EXPORT __declspec(dllimport)
#else
#define VANTOREL_EXPORT __declspec(dllexport)
#endif
#else
#define VANTOREL_EXPORT __attribute__((visibility("default")))
#endif
