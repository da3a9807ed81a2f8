// QuarnInterface: the device interface of the second instrument family,
// used by the self-test only. Its module is loaded by name (kQuarnModuleName)
// and yields the object from the export kQuarnInterfaceExport; the object
// belongs to the module, is never deleted by the driver and lives until the
// process ends.
//
// The class has 28 virtual operations; the self-test uses slot 2 and slot 21
// (GetDeviceInfo). The others are kept as placeholders so that those two
// keep their slots: never reorder, insert or remove one. The executable
// exports the special members (VANTOREL_EXPORT, defined in
// QuarnInterface.cpp) for a module that derives from this class.
//
// Threads: the self-test calls it from one thread; no locks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Export.h"

inline constexpr char kQuarnModuleName[] = "Quarn_Cpp";
inline constexpr char kQuarnInterfaceExport[] = "getQuarnInterface";
// Size of every text buffer of GetDeviceInfo, terminator included.
inline constexpr std::size_t kQuarnTextSize = 200;
// Number of angle-name buffers GetDeviceInfo may fill.
inline constexpr std::size_t kQuarnMaxAngles = 5;

// A module built with the platform's compiler (_MSC_VER) cannot link to the
// special members the executable exports: they carry the names of the
// driver's own toolchain. The class has no data, so there it gets its own
// inline ones and nothing is imported.
#if defined(_MSC_VER)
#define VANTOREL_QUARN_EXPORT
#else
#define VANTOREL_QUARN_EXPORT VANTOREL_EXPORT
#endif

class VANTOREL_QUARN_EXPORT QuarnInterface {
 public:
#if defined(_MSC_VER)
  QuarnInterface() = default;
  QuarnInterface(const QuarnInterface& other) = default;
  QuarnInterface(QuarnInterface&& other) noexcept = default;
  QuarnInterface& operator=(const QuarnInterface& other) = default;
  QuarnInterface& operator=(QuarnInterface&& other) noexcept = default;
#else
  QuarnInterface();
  QuarnInterface(const QuarnInterface& other);
  QuarnInterface(QuarnInterface&& other) noexcept;
  QuarnInterface& operator=(const QuarnInterface& other);
  QuarnInterface& operator=(QuarnInterface&& other) noexcept;
#endif

  virtual std::int32_t Reserved01() = 0;
  // Slot 2: prepares the instrument; the self-test calls it with (0, 0) and
  // ignores the code.
  virtual std::int32_t Open(std::int32_t port, std::int32_t options) = 0;
  virtual std::int32_t Reserved03() = 0;
  virtual std::int32_t Reserved04() = 0;
  virtual std::int32_t Reserved05() = 0;
  virtual std::int32_t Reserved06() = 0;
  virtual std::int32_t Reserved07() = 0;
  virtual std::int32_t Reserved08() = 0;
  virtual std::int32_t Reserved09() = 0;
  virtual std::int32_t Reserved10() = 0;
  virtual std::int32_t Reserved11() = 0;
  virtual std::int32_t Reserved12() = 0;
  virtual std::int32_t Reserved13() = 0;
  virtual std::int32_t Reserved14() = 0;
  virtual std::int32_t Reserved15() = 0;
  virtual std::int32_t Reserved16() = 0;
  virtual std::int32_t Reserved17() = 0;
  virtual std::int32_t Reserved18() = 0;
  virtual std::int32_t Reserved19() = 0;
  virtual std::int32_t Reserved20() = 0;
  // Slot 21: the instrument's identity. Every text argument points to
  // kQuarnTextSize characters and receives a terminated narrow text;
  // `angles` points to kQuarnMaxAngles such texts and `angleCount` receives
  // how many of them hold angle names. The caller sets *angleCount to 0
  // first and never reads more than kQuarnMaxAngles names.
  virtual std::int32_t GetDeviceInfo(char* serialNumber, char* whiteTile, char* calibrationDate,
                                     char* instrumentType, char (*angles)[kQuarnTextSize],
                                     std::uint8_t* angleCount) = 0;
  virtual std::int32_t Reserved22() = 0;
  virtual std::int32_t Reserved23() = 0;
  virtual std::int32_t Reserved24() = 0;
  virtual std::int32_t Reserved25() = 0;
  virtual std::int32_t Reserved26() = 0;
  virtual std::int32_t Reserved27() = 0;
  virtual std::int32_t Reserved28() = 0;

 protected:
  ~QuarnInterface() = default;
};

// Type of the module's export kQuarnInterfaceExport: no arguments, returns the
// module's object (null if it has none to give).
extern "C" {
typedef QuarnInterface* (*GetQuarnInterfaceFunction)();
}
