// Injected faults: each VANTOREL_SIM_FAULTS word changes exactly the
// behaviour it names, and failing operations leave their out-parameters alone.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "InstrumentTestSupport.h"
#include "sim/instrument/Geometries.h"
#include "sim/instrument/SimCodes.h"
#include "sim/instrument/VirtualInstrument.h"

namespace instrument::test {
namespace {

SimConfig WithFaults(const std::string& words) {
  SimConfig config = FastConfig();
  ParseFaults(words, config.faults, config.warnings);
  return config;
}

// A connected instrument holding the measured one-sample job "J".
void MeasureOneSample(VirtualInstrument& device) {
  ASSERT_EQ(device.ConnectUsb(0), 0);
  ASSERT_EQ(AddJob(device, "J", U"Gold", 1), 0);
  dv::IString id("J");
  ASSERT_EQ(device.DoJob(id), 0);
  ASSERT_TRUE(WaitForJobState(device, "J", kJobMeasured));
}

TEST(InstrumentFaults, ConnectFailReturnsTheCodeAndLeavesTheInstrumentDisconnected) {
  VirtualInstrument device(WithFaults("connect=fail:4711"));
  EXPECT_EQ(device.ConnectUsb(0), 4711);
  const std::uint8_t address[4] = {10, 0, 0, 2};
  EXPECT_EQ(device.ConnectNetwork(address), 4711);
  EXPECT_EQ(DeviceState(device), kDeviceNotConnected);
  dv::JobInfoVector jobs;
  EXPECT_EQ(device.GetJobs(jobs), kNotConnectedCode);
}

TEST(InstrumentFaults, ConnectHangNeverReturnsWhileTheInstrumentLives) {
  std::atomic<bool> returned{false};
  std::thread worker;
  {
    VirtualInstrument device(WithFaults("connect=hang"));
    worker = std::thread([&] {
      device.ConnectUsb(0);
      returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(DeviceState(device), kDeviceNotConnected);  // not blocked by the hanging call
  }  // destroying the instrument releases the hanging call
  worker.join();
  EXPECT_TRUE(returned.load());
}

TEST(InstrumentFaults, GetStateFailAndNotReady) {
  {
    VirtualInstrument device(WithFaults("getstate=fail:-5"));
    ASSERT_EQ(device.ConnectUsb(0), 0);
    std::int32_t code = 0;
    EXPECT_EQ(DeviceState(device, &code), 77);  // untouched
    EXPECT_EQ(code, -5);
  }
  {
    VirtualInstrument device(WithFaults("getstate=notready:2"));
    EXPECT_EQ(DeviceState(device), kDeviceNotConnected);  // not counted before a connect
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(device.ConnectUsb(0), 0);
      EXPECT_EQ(DeviceState(device), kDeviceBusy);
      EXPECT_EQ(DeviceState(device), kDeviceBusy);
      EXPECT_EQ(DeviceState(device), kDeviceReady);
      EXPECT_EQ(DeviceState(device), kDeviceReady);
    }
  }
  {
    VirtualInstrument device(WithFaults("getstate=notready:always"));
    ASSERT_EQ(device.ConnectUsb(0), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(DeviceState(device), kDeviceBusy);
  }
}

TEST(InstrumentFaults, GetSampleAndGetJobsFail) {
  {
    VirtualInstrument device(WithFaults("getsample=fail:321"));
    MeasureOneSample(device);
    SampleResult sample = FetchSample(device, "J", 0);
    EXPECT_EQ(sample.code, 321);
    EXPECT_TRUE(sample.spectra.Items().empty());
    EXPECT_TRUE(sample.images.Items().empty());
    EXPECT_EQ(sample.info.sampleIndex(), 0);
  }
  {
    VirtualInstrument device(WithFaults("getjobs=fail:12"));
    ASSERT_EQ(device.ConnectUsb(0), 0);
    ASSERT_EQ(AddJob(device, "J", U"Gold", 1), 0);
    dv::JobInfoVector jobs;
    EXPECT_EQ(device.GetJobs(jobs), 12);
    ASSERT_EQ(jobs.Items().size(), 1u);  // still filled
    EXPECT_EQ(jobs.Items()[0].description().identifier().Text(), "J");
  }
}

TEST(InstrumentFaults, UnlistedGeometryAndShortContentsShapeTheSpectralEntries) {
  {
    VirtualInstrument device(WithFaults("geometry=unlisted"));
    MeasureOneSample(device);
    SampleResult sample = FetchSample(device, "J", 0);
    ASSERT_EQ(sample.code, 0);
    auto& spectra = sample.spectra.Items();
    ASSERT_EQ(spectra.size(), kGeometryCount + 1);
    EXPECT_EQ(spectra.back().geometry().Text(), "r15as15 ");
    ASSERT_EQ(spectra.back().contents().Items().size(), 2u);
    EXPECT_EQ(spectra.back().contents().Items()[0].spectrum().values().Items(),
              spectra[2].contents().Items()[0].spectrum().values().Items());
  }
  {
    VirtualInstrument device(WithFaults("contents=short"));
    MeasureOneSample(device);
    SampleResult sample = FetchSample(device, "J", 0);
    ASSERT_EQ(sample.code, 0);
    auto& spectra = sample.spectra.Items();
    ASSERT_EQ(spectra.size(), kGeometryCount);
    for (std::size_t g = 0; g + 1 < kGeometryCount; ++g) {
      EXPECT_EQ(spectra[g].contents().Items().size(), 2u);
    }
    ASSERT_EQ(spectra.back().contents().Items().size(), 1u);
    EXPECT_EQ(spectra.back().contents().Items()[0].spectrum().values().Items().size(),
              kSpectrumSize);
  }
}

TEST(InstrumentFaults, SampleFailsAtItsIndexAndTheFirstStateReadPerSampleFails) {
  VirtualInstrument device(WithFaults("getsample=fail-at:1:4400, getstate=fail-first:-9"));
  std::int32_t code = 0;
  EXPECT_EQ(DeviceState(device, &code), kDeviceNotConnected);  // not before a connect
  EXPECT_EQ(code, 0);
  ASSERT_EQ(device.ConnectUsb(0), 0);
  ASSERT_EQ(AddJob(device, "J", U"Gold", 3), 0);
  dv::IString id("J");
  ASSERT_EQ(device.DoJob(id), 0);
  ASSERT_TRUE(WaitForJobState(device, "J", kJobMeasured));
  // Per sample: a failing read that reports ready, then good reads.
  const std::int32_t expected[] = {0, 4400, 0};
  for (std::int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(DeviceState(device, &code), kDeviceReady);
    EXPECT_EQ(code, -9);
    EXPECT_EQ(DeviceState(device, &code), kDeviceReady);
    EXPECT_EQ(code, 0);
    SampleResult sample = FetchSample(device, "J", i);
    EXPECT_EQ(sample.code, expected[i]) << "sample " << i;
    EXPECT_EQ(sample.spectra.Items().empty(), expected[i] != 0);
  }
}

TEST(InstrumentFaults, UnknownWordsAreReportedAndTheRestStillApplies) {
  RecordingLogger logger;  // outlives the device, which may still forward to it
  VirtualInstrument device(WithFaults(
      "explode=now, getjobs=fail:x ,getsample=fail:8,getsample=fail-at:-1:5,getsample=fail-at:2"));
  device.SetLogger(&logger);
  EXPECT_TRUE(logger.Contains("W unknown fault 'explode=now'"));
  EXPECT_TRUE(logger.Contains("W fault 'getjobs=fail:x' has no valid code"));
  EXPECT_TRUE(logger.Contains("W fault 'getsample=fail-at:-1:5' needs <index>:<code>"));
  EXPECT_TRUE(logger.Contains("W fault 'getsample=fail-at:2' needs <index>:<code>"));
  MeasureOneSample(device);
  dv::JobInfoVector jobs;
  EXPECT_EQ(device.GetJobs(jobs), 0);
  EXPECT_EQ(FetchSample(device, "J", 0).code, 8);
}

}  // namespace
}  // namespace instrument::test
