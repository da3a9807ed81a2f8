// Start-up failures of the driver process: a busy port, a missing or broken
// device module, a missing glue module. Each starts its own driver.
#include <gtest/gtest.h>

#include "integration/TestSupport.h"

namespace integration {
namespace {

std::string DriverFileName() { return WineMode() ? "vantorel-driver.exe" : "vantorel-driver"; }

std::string ModulePath(const std::string& name) {
  return DriverFolder() + "/" + name + ModuleSuffix();
}

// Starts the driver copy in `folder` and waits for it to end on its own.
std::optional<int> RunCopy(DriverProcess& driver, const TempFolder& folder) {
  if (!driver.Start(FastInstrument(), folder.Path() + "/" + DriverFileName(), folder.Path())) {
    return std::nullopt;
  }
  return driver.WaitExit(Scaled(15000));
}

TEST(DriverStartup, BusyPortEndsWithExitCodeOneAndNoMessage) {
  Listener holder;
  ASSERT_EQ(holder.Listen(8889), 0) << "port 8889 is taken by something else";
  DriverProcess driver;
  ASSERT_TRUE(driver.Start(FastInstrument())) << driver.Failure();
  const std::optional<int> code = driver.WaitExit(Scaled(15000));
  ASSERT_TRUE(code.has_value()) << "the driver kept running\n" << driver.Describe();
  EXPECT_EQ(*code, 1);
  // Nothing of the driver's own: no error line, no message. Lines the
  // instrument logs while loading may appear on stdout.
  EXPECT_EQ(driver.Stderr(), "");
  EXPECT_EQ(driver.Stdout().find("Error"), std::string::npos) << driver.Describe();
}

TEST(DriverStartup, MissingOrBrokenDeviceModuleIsFatal) {
  {
    TempFolder alone;
    ASSERT_TRUE(alone.Copy(DriverExecutable(), DriverFileName()));
    DriverProcess driver;
    const std::optional<int> code = RunCopy(driver, alone);
    ASSERT_TRUE(code.has_value()) << driver.Failure() << driver.Describe();
    EXPECT_EQ(*code, 1);
    if (!WineMode()) {
      EXPECT_EQ(driver.Stderr(), "Error: Can't load Vantorel_Cpp.dll\n");
    }
  }
  {
    // A loadable module without getInterface: the second family's module.
    TempFolder corrupted;
    ASSERT_TRUE(corrupted.Copy(DriverExecutable(), DriverFileName()));
    ASSERT_TRUE(corrupted.Copy(ModulePath("Quarn_Cpp"), "Vantorel_Cpp" + ModuleSuffix()));
    DriverProcess driver;
    const std::optional<int> code = RunCopy(driver, corrupted);
    ASSERT_TRUE(code.has_value()) << driver.Failure() << driver.Describe();
    EXPECT_EQ(*code, 1);
    if (!WineMode()) {
      EXPECT_EQ(driver.Stderr(), "Error: Can't load Vantorel_Cpp.dll - module corrupted\n");
    }
  }
}

TEST(DriverStartup, MissingGlueModuleIsFatal) {
  TempFolder noGlue;
  ASSERT_TRUE(noGlue.Copy(DriverExecutable(), DriverFileName()));
  ASSERT_TRUE(noGlue.Copy(ModulePath("Vantorel_Cpp"), "Vantorel_Cpp" + ModuleSuffix()));
  DriverProcess driver;
  const std::optional<int> code = RunCopy(driver, noGlue);
  ASSERT_TRUE(code.has_value()) << driver.Failure() << driver.Describe();
  EXPECT_EQ(*code, 1);
  // One line; Windows ends it with CR LF.
  const std::string line = std::string("VantorelDriverCLRGlue.dll not found or failed to load!") +
                           (WineMode() ? "\r\n" : "\n");
  EXPECT_NE(driver.Stderr().find(line), std::string::npos) << driver.Describe();
}

}  // namespace
}  // namespace integration
