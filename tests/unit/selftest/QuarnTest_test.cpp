#include "device/QuarnTest.h"

#include <gtest/gtest.h>

#include "platform/Module.h"

namespace {

TEST(QuarnTest, PrintsTheIdentityOfOurSecondFamilyModule) {
  testing::internal::CaptureStdout();
  TestQuarn();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "Device Info:\n"
            "\tSerial: QS-2024-00417\n"
            "\tWhite Tile: WT-88120\n"
            "\tCalibration Date: 2026-11-02\n"
            "\tInstrument Type: Quarn Q2 virtual\n"
            "\tAngles: \n"
            "\t\t45as45\n"
            "\t\t45as110\n");

  // Once loaded, the module is found again instead of being loaded anew.
  Platform::ModuleHandle loaded = Platform::FindLoadedModule("Quarn_Cpp");
  ASSERT_NE(loaded, nullptr);
  testing::internal::CaptureStdout();
  TestQuarn();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), out);
  EXPECT_EQ(Platform::FindLoadedModule("Quarn_Cpp"), loaded);
}

}  // namespace
