#include "device/Lab.h"

namespace Vexil::Device_Cpp {

IIlluminantObserverCondition::IIlluminantObserverCondition() : illuminant_(0), observer_(0) {}
IIlluminantObserverCondition::IIlluminantObserverCondition(std::int32_t illuminant,
                                                           std::int32_t observer)
    : illuminant_(illuminant), observer_(observer) {}
IIlluminantObserverCondition::IIlluminantObserverCondition(
    const IIlluminantObserverCondition& other) = default;
IIlluminantObserverCondition& IIlluminantObserverCondition::operator=(
    const IIlluminantObserverCondition& other) = default;
IIlluminantObserverCondition::~IIlluminantObserverCondition() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(IIlluminantObserverCondition)
const std::int32_t* IIlluminantObserverCondition::GetIlluminant() const { return &illuminant_; }
const std::int32_t* IIlluminantObserverCondition::GetObserver() const { return &observer_; }

Lab::Lab() : l_(0.0f), a_(0.0f), b_(0.0f) {}
Lab::Lab(float l, float a, float b) : l_(l), a_(a), b_(b) {}
Lab::Lab(const Lab& other) = default;
Lab& Lab::operator=(const Lab& other) = default;
Lab::~Lab() = default;
VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Lab)
const IIlluminantObserverCondition* Lab::GetCondition() const { return &condition_; }
const float* Lab::GetL() const { return &l_; }
const float* Lab::GetA() const { return &a_; }
const float* Lab::GetB() const { return &b_; }

void Lab::SetLab(float l, float a, float b) {
  l_ = l;
  a_ = a;
  b_ = b;
}

void Lab::SetCondition(std::int32_t illuminant, std::int32_t observer) {
  condition_ = IIlluminantObserverCondition(illuminant, observer);
}

}  // namespace Vexil::Device_Cpp
