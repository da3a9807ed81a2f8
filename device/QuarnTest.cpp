#include "device/QuarnTest.h"

#include <cstdint>
#include <iostream>

#include "device/QuarnInterface.h"
#include "platform/FatalMessage.h"
#include "platform/Module.h"

namespace {

// The module's texts are untrusted: make sure each buffer ends in a
// terminator before it is printed.
void Terminate(char* text) { text[kQuarnTextSize - 1] = '\0'; }

void Line(const char* prefix, const char* text) {
  std::cout << prefix << text << std::endl;  // endl: newline and flush
}

}  // namespace

extern "C" void TestQuarn() {
  Platform::ModuleHandle module = Platform::FindLoadedModule(kQuarnModuleName);
  if (module == nullptr) module = Platform::LoadModule(kQuarnModuleName);
  if (module == nullptr) {
    Platform::ShowFatalMessageAnsi("Can't load Quarn_Cpp.dll");
    return;
  }
  using GetQuarnFunction = QuarnInterface* (*)();
  auto GetQuarnFunc =
      reinterpret_cast<GetQuarnFunction>(Platform::ResolveSymbol(module, kQuarnInterfaceExport));
  QuarnInterface* quarn = GetQuarnFunc != nullptr ? GetQuarnFunc() : nullptr;
  if (quarn == nullptr) {
    Platform::ShowFatalMessageAnsi("Assertion failed: GetQuarnFunc != nullptr, file QuarnTest.cpp");
    return;
  }

  quarn->Open(0, 0);
  char SerialNumber[kQuarnTextSize] = {};
  char WhiteTile[kQuarnTextSize] = {};
  char CalibrationDate[kQuarnTextSize] = {};
  char InstrumentType[kQuarnTextSize] = {};
  char ArrayAngles[kQuarnMaxAngles][kQuarnTextSize] = {};
  std::uint8_t NumAngles = 0;
  quarn->GetDeviceInfo(SerialNumber, WhiteTile, CalibrationDate, InstrumentType, ArrayAngles,
                       &NumAngles);
  Terminate(SerialNumber);
  Terminate(WhiteTile);
  Terminate(CalibrationDate);
  Terminate(InstrumentType);

  std::cout << "Device Info:" << std::endl;
  Line("\tSerial: ", SerialNumber);
  Line("\tWhite Tile: ", WhiteTile);
  Line("\tCalibration Date: ", CalibrationDate);
  Line("\tInstrument Type: ", InstrumentType);
  std::cout << "\tAngles: " << std::endl;
  const std::size_t count = NumAngles < kQuarnMaxAngles ? NumAngles : kQuarnMaxAngles;
  for (std::size_t i = 0; i < count; ++i) {
    Terminate(ArrayAngles[i]);
    Line("\t\t", ArrayAngles[i]);
  }
}
