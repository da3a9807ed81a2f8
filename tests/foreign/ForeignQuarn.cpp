// A second-family module as its maker would build it with the platform's own
// compiler: written against ForeignContract.h alone, freestanding. Open(0, 0)
// opens the instrument; GetDeviceInfo reports the identity of
// ForeignValues.h (the serial says whether Open came first). Every other
// operation answers its own slot number, so a caller can see that all 28
// sit where it expects them.
//
// Threads: the self-test calls it from one thread; `opened` is its only
// state.
#include "foreign/ForeignContract.h"
#include "foreign/ForeignText.h"
#include "foreign/ForeignValues.h"

namespace foreign {
namespace {

namespace fv = foreign_values;

constexpr u32 kTextSize = 200;
constexpr int kMaxAngles = 5;

class ForeignQuarn final : public SecondFamily {
 public:
  i32 Slot01() override { return 1; }
  i32 Open(i32 port, i32 options) override {
    opened_ = port == 0 && options == 0;
    return opened_ ? 0 : -1;
  }
  i32 Slot03() override { return 3; }
  i32 Slot04() override { return 4; }
  i32 Slot05() override { return 5; }
  i32 Slot06() override { return 6; }
  i32 Slot07() override { return 7; }
  i32 Slot08() override { return 8; }
  i32 Slot09() override { return 9; }
  i32 Slot10() override { return 10; }
  i32 Slot11() override { return 11; }
  i32 Slot12() override { return 12; }
  i32 Slot13() override { return 13; }
  i32 Slot14() override { return 14; }
  i32 Slot15() override { return 15; }
  i32 Slot16() override { return 16; }
  i32 Slot17() override { return 17; }
  i32 Slot18() override { return 18; }
  i32 Slot19() override { return 19; }
  i32 Slot20() override { return 20; }
  i32 GetDeviceInfo(char* serial, char* whiteTile, char* calibrationDate, char* instrumentType,
                    char (*angles)[kTextSize], u8* angleCount) override {
    if (serial != nullptr) {
      CopyText(serial, kTextSize, opened_ ? fv::kQuarnSerial : fv::kQuarnUnopenedSerial);
    }
    if (whiteTile != nullptr) CopyText(whiteTile, kTextSize, fv::kQuarnWhiteTile);
    if (calibrationDate != nullptr) CopyText(calibrationDate, kTextSize, fv::kQuarnCalibrationDate);
    if (instrumentType != nullptr) CopyText(instrumentType, kTextSize, fv::kQuarnType);
    static_assert(fv::kQuarnAngleCount <= kMaxAngles);
    if (angles != nullptr) {
      for (int i = 0; i < fv::kQuarnAngleCount; ++i)
        CopyText(angles[i], kTextSize, fv::kQuarnAngles[i]);
    }
    if (angleCount != nullptr) *angleCount = fv::kQuarnAngleCount;
    return 0;
  }
  i32 Slot22() override { return 22; }
  i32 Slot23() override { return 23; }
  i32 Slot24() override { return 24; }
  i32 Slot25() override { return 25; }
  i32 Slot26() override { return 26; }
  i32 Slot27() override { return 27; }
  i32 Slot28() override { return 28; }

 private:
  bool opened_ = false;
};

constinit ForeignQuarn quarn;

}  // namespace
}  // namespace foreign

FOREIGN_EXPORT foreign::SecondFamily* getQuarnInterface() { return &foreign::quarn; }
