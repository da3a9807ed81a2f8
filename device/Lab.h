// Lab and IIlluminantObserverCondition: a CIELAB colour value and the
// illuminant/observer condition it holds under.
//
// A device module fills a Lab that it finds inside a SpectralContentData
// through virtual operations only (it never constructs one or touches its
// members). Slot order: destructor (as the platform's C++ ABI lays it out,
// see BoundaryAbi.h), GetCondition, GetL, GetA, GetB, then the setters SetLab
// and SetCondition, which come after the four getters so that the getters
// keep their slots. The executable exports both classes
// (VANTOREL_EXPORT), so a module built against this header may also use the
// special members; everything is defined out of line in Lab.cpp.
//
// Threads: a value belongs to one thread at a time; no locks.
#pragma once

#include <cstdint>

#include "device/BoundaryAbi.h"
#include "platform/Export.h"

namespace Vexil::Device_Cpp {

class VANTOREL_EXPORT IIlluminantObserverCondition {
 public:
  // Both values 0.
  IIlluminantObserverCondition();
  IIlluminantObserverCondition(std::int32_t illuminant, std::int32_t observer);
  IIlluminantObserverCondition(const IIlluminantObserverCondition& other);
  IIlluminantObserverCondition& operator=(const IIlluminantObserverCondition& other);

  // Virtual operations, in slot order. The pointers stay valid as long as the
  // object lives.
  VEXIL_BOUNDARY_DESTRUCTOR(IIlluminantObserverCondition);
  virtual const std::int32_t* GetIlluminant() const;
  virtual const std::int32_t* GetObserver() const;

 private:
  std::int32_t illuminant_;
  std::int32_t observer_;
};

class VANTOREL_EXPORT Lab {
 public:
  // Condition (0, 0) and L* = a* = b* = 0.
  Lab();
  Lab(float l, float a, float b);
  Lab(const Lab& other);
  Lab& operator=(const Lab& other);

  // Virtual operations, in slot order. The getters' pointers stay valid as
  // long as the object lives.
  VEXIL_BOUNDARY_DESTRUCTOR(Lab);
  virtual const IIlluminantObserverCondition* GetCondition() const;
  virtual const float* GetL() const;
  virtual const float* GetA() const;
  virtual const float* GetB() const;
  // Replaces L*, a* and b*.
  virtual void SetLab(float l, float a, float b);
  // Replaces the condition.
  virtual void SetCondition(std::int32_t illuminant, std::int32_t observer);

 private:
  IIlluminantObserverCondition condition_;
  float l_;
  float a_;
  float b_;
};

}  // namespace Vexil::Device_Cpp
