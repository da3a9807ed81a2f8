// The built module itself: loaded by plain name like the driver loads it, its
// one export gives a single instrument that works across the boundary with
// the driver's value classes and takes its settings from the environment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "InstrumentTestSupport.h"
#include "device/DeviceInterface.h"
#include "platform/Module.h"
#include "sim/instrument/Geometries.h"
#include "sim/instrument/SimCodes.h"

namespace instrument::test {
namespace {

void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

TEST(InstrumentModule, ExportGivesOneInstrumentThatWorksAcrossTheBoundary) {
  SetEnv("VANTOREL_SIM_CONNECT_MS", "0");
  SetEnv("VANTOREL_SIM_SAMPLE_MS", "1");
  SetEnv("VANTOREL_SIM_IMAGE_PX", "8");
  SetEnv("VANTOREL_SIM_STORE", "");
  SetEnv("VANTOREL_SIM_FAULTS", "getstate=notready:1");

  std::string error;
  Platform::ModuleHandle module = Platform::LoadModule(dv::kDeviceModuleName, &error);
  ASSERT_NE(module, nullptr) << error;
  auto getInterface = reinterpret_cast<GetDeviceInterfaceFunction>(
      Platform::ResolveSymbol(module, dv::kDeviceInterfaceExport));
  ASSERT_NE(getInterface, nullptr);
  dv::DeviceInterface* device = getInterface();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(getInterface(), device);

  RecordingLogger logger;
  EXPECT_EQ(device->SetLogger(&logger), 0);
  ASSERT_EQ(device->ConnectUsb(0), 0);
  EXPECT_TRUE(logger.Contains("M connected over USB port 0"));
  EXPECT_EQ(DeviceState(*device), kDeviceBusy);  // the fault from the environment
  EXPECT_EQ(DeviceState(*device), kDeviceReady);

  ASSERT_EQ(AddJob(*device, "Across", U"Pearl", 2), 0);
  dv::IString id("Across");
  ASSERT_EQ(device->DoJob(id), 0);
  ASSERT_TRUE(WaitForJobState(*device, "Across", kJobMeasured));
  SampleResult sample = FetchSample(*device, "Across", 1);
  ASSERT_EQ(sample.code, 0);
  ASSERT_EQ(sample.spectra.Items().size(), kGeometryCount);
  EXPECT_EQ(sample.spectra.Items()[10].geometry().Text(), "r45as110");
  EXPECT_EQ(sample.spectra.Items()[10].contents().Items()[0].spectrum().values().Items().size(),
            kSpectrumSize);
  EXPECT_GT(*sample.spectra.Items()[0].contents().Items()[1].lab().GetL(), 0.0f);
  ASSERT_EQ(sample.images.Items().size(), kImageCount);
  EXPECT_FALSE(sample.images.Items()[0].contents().Items()[0].exr().data().Items().empty());

  dv::IUintVector8 log;
  ASSERT_EQ(device->GetLog(log), 0);
  const std::string text(log.Items().begin(), log.Items().end());
  EXPECT_NE(text.find("virtual instrument started (connect 0 ms, sample 1 ms, images 8 px)"),
            std::string::npos);
  EXPECT_NE(text.find("sample 1 of job 'Across' delivered"), std::string::npos);
  // The module keeps the sink until the process ends; leave it a quiet one.
  static RecordingLogger lasting;
  device->SetLogger(&lasting);
}

}  // namespace
}  // namespace instrument::test
