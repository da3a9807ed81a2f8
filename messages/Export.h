// Export macro for the types the driver executable makes available to the
// modules it loads (the measurement records, Lab, the self-test entry).
//
// On Windows the executable exports them with __declspec(dllexport) and a
// module built against the same headers imports them; on Linux they get
// default visibility and the executable is linked with -rdynamic.
#pragma once

#if defined(_WIN32)
#if defined(VANTOREL_EXPORTING)
#define VANTOREL_EXPORT __declspec(dllexport)
#else
#define VANTOREL_EXPORT __declspec(dllimport)
#endif
#else
#define VANTOREL_EXPORT __attribute__((visibility("default")))
#endif
