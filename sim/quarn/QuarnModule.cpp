// Quarn_Cpp: our module of the second instrument family, enough for the
// driver's self-test. It answers the open call and reports a fixed, plausible
// identity with two measurement angles.
#include <cstdio>
#include <cstring>

#include "device/QuarnInterface.h"

#if defined(_WIN32)
#define QUARN_MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define QUARN_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

void CopyText(char* destination, const char* text) {
  std::snprintf(destination, kQuarnTextSize, "%s", text);
}

// Every placeholder operation answers "not supported".
constexpr std::int32_t kNotSupported = -1;

class SimulatedQuarn final : public QuarnInterface {
 public:
  std::int32_t Reserved01() override { return kNotSupported; }
  std::int32_t Open(std::int32_t port, std::int32_t options) override {
    return port == 0 && options == 0 ? 0 : kNotSupported;
  }
  std::int32_t Reserved03() override { return kNotSupported; }
  std::int32_t Reserved04() override { return kNotSupported; }
  std::int32_t Reserved05() override { return kNotSupported; }
  std::int32_t Reserved06() override { return kNotSupported; }
  std::int32_t Reserved07() override { return kNotSupported; }
  std::int32_t Reserved08() override { return kNotSupported; }
  std::int32_t Reserved09() override { return kNotSupported; }
  std::int32_t Reserved10() override { return kNotSupported; }
  std::int32_t Reserved11() override { return kNotSupported; }
  std::int32_t Reserved12() override { return kNotSupported; }
  std::int32_t Reserved13() override { return kNotSupported; }
  std::int32_t Reserved14() override { return kNotSupported; }
  std::int32_t Reserved15() override { return kNotSupported; }
  std::int32_t Reserved16() override { return kNotSupported; }
  std::int32_t Reserved17() override { return kNotSupported; }
  std::int32_t Reserved18() override { return kNotSupported; }
  std::int32_t Reserved19() override { return kNotSupported; }
  std::int32_t Reserved20() override { return kNotSupported; }
  std::int32_t GetDeviceInfo(char* serialNumber, char* whiteTile, char* calibrationDate,
                             char* instrumentType, char (*angles)[kQuarnTextSize],
                             std::uint8_t* angleCount) override {
    if (serialNumber != nullptr) CopyText(serialNumber, "QS-2024-00417");
    if (whiteTile != nullptr) CopyText(whiteTile, "WT-88120");
    if (calibrationDate != nullptr) CopyText(calibrationDate, "2026-11-02");
    if (instrumentType != nullptr) CopyText(instrumentType, "Quarn Q2 virtual");
    if (angles != nullptr) {
      CopyText(angles[0], "45as45");
      CopyText(angles[1], "45as110");
    }
    if (angleCount != nullptr) *angleCount = 2;
    return 0;
  }
  std::int32_t Reserved22() override { return kNotSupported; }
  std::int32_t Reserved23() override { return kNotSupported; }
  std::int32_t Reserved24() override { return kNotSupported; }
  std::int32_t Reserved25() override { return kNotSupported; }
  std::int32_t Reserved26() override { return kNotSupported; }
  std::int32_t Reserved27() override { return kNotSupported; }
  std::int32_t Reserved28() override { return kNotSupported; }
};

}  // namespace

QUARN_MODULE_EXPORT QuarnInterface* getQuarnInterface() {
  static SimulatedQuarn* instance = new SimulatedQuarn;  // lives as long as the process
  return instance;
}
