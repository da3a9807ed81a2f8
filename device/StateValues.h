// The value classes that describe the instrument's state: EntityState,
// EntityStateVector and State, the out-parameter of GetState.
//
// Rules shared by every value class (slot order, modules use virtual
// operations only, deep copies): see JobValues.h.
//
// Threads: a value belongs to one thread at a time; no locks.
#pragma once

#include <cstdint>

#include "device/BoundaryAbi.h"
#include "device/DeviceVector.h"
#include "device/IString.h"
#include "device/JobValues.h"

namespace Vexil::Device_Cpp {

// State of one component of the instrument, filled by the device only.
class EntityState {
 public:
  EntityState() = default;
  EntityState(const EntityState&) = default;
  EntityState(EntityState&&) = default;
  EntityState& operator=(const EntityState&) = default;
  EntityState& operator=(EntityState&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(EntityState);
  virtual std::int32_t& entityId();
  virtual IString& name();
  virtual IString& kind();
  virtual IString& status();
  virtual std::int32_t& statusCode();

  // Read access for the driver.
  const std::int32_t& entityId() const { return entityId_; }
  const IString& name() const { return name_; }
  const IString& kind() const { return kind_; }
  const IString& status() const { return status_; }
  const std::int32_t& statusCode() const { return statusCode_; }

 private:
  std::int32_t entityId_{};
  IString name_;
  IString kind_;
  IString status_;
  std::int32_t statusCode_{};
};

// Component states of the instrument.
using EntityStateVector = DeviceVector<EntityState>;
extern template class DeviceVector<EntityState>;

// State of the instrument as GetState reports it.
class State {
 public:
  State() = default;
  State(const State&) = default;
  State(State&&) = default;
  State& operator=(const State&) = default;
  State& operator=(State&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(State);
  virtual std::uint8_t&
  deviceState();  // 2: ready to deliver a sample; other values are the device's own
  virtual std::uint8_t& connectionKind();
  virtual std::uint8_t& batteryLevel();
  virtual ITime& time();
  virtual std::uint8_t& lastError();
  virtual std::uint8_t& calibrationState();
  virtual std::uint8_t& storageState();
  virtual std::uint8_t& powerState();
  virtual std::uint8_t& lidState();
  virtual IUintVector8& statusData();  // device-private bytes
  virtual EntityStateVector& entities();

  // Read access for the driver.
  const std::uint8_t& deviceState() const { return deviceState_; }
  const std::uint8_t& connectionKind() const { return connectionKind_; }
  const std::uint8_t& batteryLevel() const { return batteryLevel_; }
  const ITime& time() const { return time_; }
  const std::uint8_t& lastError() const { return lastError_; }
  const std::uint8_t& calibrationState() const { return calibrationState_; }
  const std::uint8_t& storageState() const { return storageState_; }
  const std::uint8_t& powerState() const { return powerState_; }
  const std::uint8_t& lidState() const { return lidState_; }
  const IUintVector8& statusData() const { return statusData_; }
  const EntityStateVector& entities() const { return entities_; }

 private:
  std::uint8_t deviceState_{};
  std::uint8_t connectionKind_{};
  std::uint8_t batteryLevel_{};
  ITime time_;
  std::uint8_t lastError_{};
  std::uint8_t calibrationState_{};
  std::uint8_t storageState_{};
  std::uint8_t powerState_{};
  std::uint8_t lidState_{};
  IUintVector8 statusData_;
  EntityStateVector entities_;
};

}  // namespace Vexil::Device_Cpp
