// IString and IString32: the text values that cross the device boundary.
//
// These classes follow the rules of every value class in device/: the driver
// builds them, hands them to a device module by reference and reads them back.
// A module (built and loaded separately) reaches them only through their
// virtual operations, in declaration order, which are defined out of line in
// this library and therefore run the driver's own code on the driver's own
// heap. The non-virtual members (Text(), constructors) are for the driver.
//
// Threads: a value belongs to one thread at a time; no locks.
#pragma once

#include <cstdint>
#include <string>

#include "device/BoundaryAbi.h"

namespace Vexil::Device_Cpp {

// Narrow text (bytes; UTF-8 where the driver converts it).
class IString {
 public:
  IString() = default;
  // Copies the terminated text; null gives an empty text.
  IString(const char* text);  // NOLINT(google-explicit-constructor): used as a text literal
  explicit IString(std::string text) : text_(std::move(text)) {}
  IString(const IString&) = default;
  IString(IString&&) = default;
  IString& operator=(const IString&) = default;
  IString& operator=(IString&&) = default;

  // Virtual operations, in slot order.
  VEXIL_BOUNDARY_DESTRUCTOR(IString);
  // Replaces the content by the terminated text; null gives an empty text.
  // If the new text cannot be allocated the old content stays.
  virtual void Set(const char* text);
  // Terminated content; valid until the next change or the end of the value.
  virtual const char* c_str();
  // Length in bytes, without the terminator (saturates at UINT32_MAX).
  virtual std::uint32_t length();

  // Driver-side direct access to the content.
  std::string& Text() { return text_; }
  const std::string& Text() const { return text_; }

  friend bool operator==(const IString& a, const IString& b) { return a.text_ == b.text_; }

 private:
  std::string text_;
};

// UTF-32 text, one code point per 32-bit unit.
class IString32 {
 public:
  IString32() = default;
  // Copies the terminated text; null gives an empty text.
  explicit IString32(const char32_t* text);
  explicit IString32(std::u32string text) : text_(std::move(text)) {}
  IString32(const IString32&) = default;
  IString32(IString32&&) = default;
  IString32& operator=(const IString32&) = default;
  IString32& operator=(IString32&&) = default;

  // Virtual operations, in slot order; same guarantees as IString's.
  VEXIL_BOUNDARY_DESTRUCTOR(IString32);
  virtual void Set(const char32_t* text);
  virtual const char32_t* c_str();
  // Length in code units, without the terminator (saturates at UINT32_MAX).
  virtual std::uint32_t length();

  std::u32string& Text() { return text_; }
  const std::u32string& Text() const { return text_; }

  friend bool operator==(const IString32& a, const IString32& b) { return a.text_ == b.text_; }

 private:
  std::u32string text_;
};

}  // namespace Vexil::Device_Cpp
