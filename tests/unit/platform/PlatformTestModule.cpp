// A module for the module-loading tests: one exported function.
#if defined(_WIN32)
#define TEST_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TEST_MODULE_EXPORT int PlatformTestModuleAnswer(int x) { return x * 3 + 1; }
