// The module's one export: getInterface, which the driver looks up by this
// plain name (extern "C", no decoration) and calls once after loading.
//
// The first call reads the VANTOREL_SIM_* environment and creates the
// instrument; every call returns the same object. The object is never
// destroyed, so its measuring thread never meets a std::thread destructor at
// process exit. Thread-safe (function-local static).
#include "sim/instrument/SimConfig.h"
#include "sim/instrument/VirtualInstrument.h"

#if defined(_WIN32)
#define VANTOREL_SIM_EXPORT __declspec(dllexport)
#else
#define VANTOREL_SIM_EXPORT __attribute__((visibility("default")))
#endif

extern "C" VANTOREL_SIM_EXPORT Vexil::Device_Cpp::DeviceInterface* getInterface() {
  // Leaked on purpose: the interface lives as long as the process.
  static instrument::VirtualInstrument* const instance =
      new instrument::VirtualInstrument(instrument::ConfigFromEnvironment());
  return instance;
}
