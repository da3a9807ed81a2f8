// LogInterface: the sink through which a device module reports its own
// messages. The driver hands one sink to the module with
// DeviceInterface::SetLogger; the sink stays the driver's and outlives every
// report, and the module never deletes it (hence no virtual destructor).
//
// Threads: a module may call a sink from any of its threads; an
// implementation must cope with that.
#pragma once

namespace Vexil::Device_Cpp {

class LogInterface {
 public:
  // Slot order is the contract with the module: Message, Error, Warning.
  // Each takes a terminated narrow text that is valid during the call only.
  virtual void Message(const char* text) = 0;
  virtual void Error(const char* text) = 0;
  virtual void Warning(const char* text) = 0;

 protected:
  LogInterface() = default;
  LogInterface(const LogInterface&) = default;
  LogInterface& operator=(const LogInterface&) = default;
  ~LogInterface() = default;
};

}  // namespace Vexil::Device_Cpp
