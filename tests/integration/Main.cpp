// Entry of the integration suite. In Wine mode (VANTOREL_DRIVER_WINE set) a
// missing Windows driver makes the run count as skipped (exit code 77), so
// that the ctest entry for the Windows build can exist before that build does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "integration/DriverProcess.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const std::string driver = integration::DriverExecutable();
  if (::access(driver.c_str(), R_OK) != 0) {
    std::fprintf(stderr, "driver not found: %s\n", driver.c_str());
    return integration::WineMode() ? 77 : 1;
  }
  std::printf("driver under test: %s%s\n", integration::WineMode() ? "wine " : "", driver.c_str());
  return RUN_ALL_TESTS();
}
