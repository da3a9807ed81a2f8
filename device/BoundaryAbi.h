// The vtable layout of the classes that cross the device boundary.
//
// A device module is built by someone else, usually with the platform's own
// C++ compiler, and calls our value objects through their vtables. So every
// boundary class must lay out its virtual operations as that compiler would
// for the same declarations: first the destructor, then the virtual
// operations in declaration order. What "the destructor" takes in the vtable
// differs between C++ ABIs:
//
// - Itanium ABI (Linux; also mingw-w64 g++ and clang for *-w64-mingw32 on
//   Windows): two slots, the complete and the deleting destructor.
// - The platform ABI on Windows (MSVC, clang-cl, clang --target=*-pc-windows-
//   msvc; these define _MSC_VER): one slot, the "scalar deleting destructor"
//   void* (unsigned int flags), which destroys the object, frees it when bit 0
//   of `flags` is set, and returns its address.
//
// Linux keeps its own ABI: a plain virtual destructor. On Windows a compiler
// of the platform ABI gets a plain virtual destructor too (one slot). A
// mingw-w64 build, ours included, would otherwise put every accessor one slot
// later than a module built with the platform's compiler calls it; there the
// destructor is not virtual and slot 0 is ScalarDeletingDestructor, a virtual
// operation that does what the platform's single destructor slot does.
//
// Calling convention: on 32-bit Windows the platform passes `this` in ECX and
// the callee pops its arguments (__thiscall). mingw-w64 g++ does the same for
// every member function by default (since GCC 4.7); SlotOrder_test checks
// it at compile time. On 64-bit Windows both
// compilers use the one Windows x64 convention.
//
// Rules for a boundary class: declare VEXIL_BOUNDARY_DESTRUCTOR(Class) as its
// first virtual operation and define VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Class)
// next to its destructor. Nothing derives from a value class, so nothing
// destroys one through a base (its destructor is not virtual in every build;
// the Windows build's -Wdelete-non-virtual-dtor would flag a `delete` that
// could). The classes are not final on purpose: a module compiled against
// these headers must call every operation through the vtable, and `final`
// would let its compiler bind the calls directly to code only the driver
// has. Virtual operations of one class never share a name: the platform's
// compiler groups such overloads (in reverse order), which would break the
// declaration order.
//
// Threads: declarations only.
#pragma once

#include <new>

#if defined(_WIN32) && !defined(_MSC_VER)
// mingw-w64: the platform's single destructor slot, spelled out.
#define VEXIL_EMULATED_DESTRUCTOR_SLOT 1
#else
#define VEXIL_EMULATED_DESTRUCTOR_SLOT 0
#endif

#if VEXIL_EMULATED_DESTRUCTOR_SLOT

// Slot 0 of a boundary class. A module never deletes an object it is given
// (the driver owns them all), so the driver never needs this slot; it exists
// so that the accessors sit where a module built with the platform's compiler
// calls them, and does what the platform's destructor slot does if it is
// called anyway. The driver destroys its values by their (non-virtual)
// destructor.
#define VEXIL_BOUNDARY_DESTRUCTOR(Class) \
  ~Class();                              \
  virtual void* ScalarDeletingDestructor(unsigned int flags)

#define VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Class)                                 \
  void* Class::ScalarDeletingDestructor(unsigned int flags) {                   \
    return ::Vexil::Device_Cpp::boundary_abi::DestroyAndMaybeFree(this, flags); \
  }

namespace Vexil::Device_Cpp::boundary_abi {

// The platform's scalar deleting destructor: destroys *object and, when bit 0
// of `flags` is set, frees its memory (which must then come from a plain
// `new` of the driver). Bit 1 (an array delete) never arises: a module never
// allocates these objects. Returns the object's former address.
template <typename T>
void* DestroyAndMaybeFree(T* object, unsigned int flags) {
  object->~T();
  if ((flags & 1u) != 0) ::operator delete(static_cast<void*>(object));
  return object;
}

}  // namespace Vexil::Device_Cpp::boundary_abi

#else

#define VEXIL_BOUNDARY_DESTRUCTOR(Class) virtual ~Class()
#define VEXIL_DEFINE_BOUNDARY_DESTRUCTOR(Class)

#endif
