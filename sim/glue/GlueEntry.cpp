// Entry point of the VantorelDriverCLRGlue module.
#include "sim/glue/CombiningGlue.h"

#if defined(_WIN32)
#define GLUE_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define GLUE_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

GLUE_MODULE_EXPORT GlueInterface* GetInterface() {
  static CombiningGlue* instance = new CombiningGlue;  // lives as long as the process
  return instance;
}
