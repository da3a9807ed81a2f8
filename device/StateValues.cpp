#include "device/StateValues.h"

#include "device/DeviceVectorImpl.h"

namespace Vexil::Device_Cpp {

EntityState::~EntityState() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(EntityState)
std::int32_t& EntityState::entityId() { return entityId_; }
IString& EntityState::name() { return name_; }
IString& EntityState::kind() { return kind_; }
IString& EntityState::status() { return status_; }
std::int32_t& EntityState::statusCode() { return statusCode_; }

State::~State() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(State)
std::uint8_t& State::deviceState() { return deviceState_; }
std::uint8_t& State::connectionKind() { return connectionKind_; }
std::uint8_t& State::batteryLevel() { return batteryLevel_; }
ITime& State::time() { return time_; }
std::uint8_t& State::lastError() { return lastError_; }
std::uint8_t& State::calibrationState() { return calibrationState_; }
std::uint8_t& State::storageState() { return storageState_; }
std::uint8_t& State::powerState() { return powerState_; }
std::uint8_t& State::lidState() { return lidState_; }
IUintVector8& State::statusData() { return statusData_; }
EntityStateVector& State::entities() { return entities_; }

template class DeviceVector<EntityState>;

}  // namespace Vexil::Device_Cpp
