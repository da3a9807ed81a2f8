// The module's one export: getInterface, which the driver looks up by this
// plain name (extern "C", no decoration) and calls once after loading.
//
// The first call reads the VANTOREL_SIM_* environment and creates the
// instrument; every call returns the same object. The object is never
// destroyed, so its measuring thread never meets a std::thread destructor at
// process exit. Thread-safe (function-local static).
//
// Log lines reach the driver's sink from the log's own thread, a few
// milliseconds after they are written; at a normal process exit (the
// driver's terminate) the lines still on their way are handed over first, so
// the driver's standard output misses none of them. On Windows the process
// exit ends the module's threads before it tells the module, so there the
// lines of the last few milliseconds before a terminate may reach only the
// instrument's own log (GetLog).
#include <cstdlib>

#include "sim/instrument/SimConfig.h"
#include "sim/instrument/VirtualInstrument.h"

#if defined(_WIN32)
#define VANTOREL_SIM_EXPORT __declspec(dllexport)
#else
#define VANTOREL_SIM_EXPORT __attribute__((visibility("default")))
#endif

namespace {
// The one instrument, for the exit handler (set once, before it is registered).
instrument::VirtualInstrument* theInstrument = nullptr;
}  // namespace

extern "C" VANTOREL_SIM_EXPORT Vexil::Device_Cpp::DeviceInterface* getInterface() {
  // Leaked on purpose: the interface lives as long as the process.
  static instrument::VirtualInstrument* const instance = [] {
    theInstrument = new instrument::VirtualInstrument(instrument::ConfigFromEnvironment());
#if !defined(_WIN32)
    std::atexit([] { theInstrument->FlushLog(); });
#endif
    return theInstrument;
  }();
  return instance;
}
