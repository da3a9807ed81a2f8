// The FakeDevice that driver tests rely on: scripted samples, the job store,
// call records and the connect wait.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fakes/FakeDevice.h"

namespace {

using namespace Vexil::Device_Cpp;
using Fakes::FakeDevice;

struct SampleOut {
  SampleInfo info;
  ImageContentVector images;
  SpectrumContentVector spectra;
};

std::int32_t FetchSample(FakeDevice& device, std::int32_t index, SampleOut& out) {
  IString job("J");
  IStringVector channels{IString("ALL")};
  ImageChannelContentTypeVector imageTypes{0};
  SpectralChannelContentTypeVector spectralTypes{SpectralChannelContentType(0, 0),
                                                 SpectralChannelContentType(3, 0)};
  return device.GetSample(job, index, channels, channels, imageTypes, spectralTypes, 5, 1, out.info,
                          out.images, out.spectra);
}

TEST(FakeDevice, SampleScriptShapesTheContents) {
  FakeDevice device;
  SampleOut full;
  ASSERT_EQ(FetchSample(device, 2, full), 0);
  ASSERT_EQ(full.spectra.size(), 11u);
  ASSERT_EQ(full.images.size(), 6u);
  const SpectrumContent& last = full.spectra.Items()[10];
  EXPECT_EQ(last.geometry().Text(), "r45as110");
  ASSERT_EQ(last.contents().Items().size(), 2u);
  ASSERT_EQ(last.contents().Items()[0].spectrum().values().Items().size(), 31u);
  EXPECT_EQ(last.contents().Items()[0].spectrum().values().Items()[30],
            FakeDevice::SpectrumValue(2, 10, 30));
  EXPECT_EQ(*last.contents().Items()[1].lab().GetL(), FakeDevice::LabValues(2, 10)[0]);
  EXPECT_EQ(*last.contents().Items()[1].lab().GetB(), FakeDevice::LabValues(2, 10)[2]);
  EXPECT_EQ(full.images.Items()[5].contents().Items().at(0).exr().data().Items(),
            FakeDevice::ImageBytes(2, 5));
  EXPECT_EQ(full.info.sampleIndex(), 2);
  EXPECT_THAT(device.Calls().at(0).args,
              testing::ElementsAre("J", "2", "ALL", "ALL", "0", "(0,0),(3,0)", "5", "1"));

  device.sample = {3, 1, true, true};
  SampleOut brief;
  ASSERT_EQ(FetchSample(device, 0, brief), 0);
  ASSERT_EQ(brief.spectra.size(), 4u);
  EXPECT_EQ(brief.spectra.Items()[3].geometry().Text(), FakeDevice::kUnlistedGeometryName);
  EXPECT_EQ(brief.spectra.Items()[3].contents().Items().size(), 1u);
  EXPECT_EQ(brief.spectra.Items()[3].contents().Items()[0].spectrum().values().Items().size(), 3u);
  ASSERT_EQ(brief.images.size(), 2u);
  EXPECT_EQ(brief.images.Items()[1].contents().Items().size(), 0u);

  device.getSampleResult = 7;
  SampleOut failed;
  EXPECT_EQ(FetchSample(device, 0, failed), 7);
  EXPECT_EQ(failed.spectra.size(), 0u);
}

TEST(FakeDevice, JobStoreFollowsAddDeleteAndDoJob) {
  FakeDevice device;
  IJobDescription description;
  description.identifier().Set("J");
  description.sampleCount() = 3;
  description.displayTags().Items().push_back(Tag32(IString("DisplayName"), IString32(U"J\u00e9")));
  ASSERT_EQ(device.AddJob(description), 0);
  description.sampleCount() = 4;
  ASSERT_EQ(device.AddJob(description), 0);
  IString other("K");
  IString job("J");
  device.jobs.push_back({"K", 1, 2001});
  ASSERT_EQ(device.DoJob(job), 0);
  ASSERT_EQ(device.DeleteJob(other), 0);

  JobInfoVector list;
  ASSERT_EQ(device.GetJobs(list), 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.Items()[0].description().identifier().Text(), "J");
  EXPECT_EQ(list.Items()[0].description().sampleCount(), 4);
  EXPECT_EQ(list.Items()[0].modeInfo().stateCode(), 2004);
  EXPECT_EQ(device.Calls().at(0).args.at(3), "DisplayName=J\xC3\xA9");
  EXPECT_EQ(device.LastJobDescription().sampleCount(), 4);

  device.getJobsResult = 5;
  EXPECT_EQ(device.GetJobs(list), 5);
  EXPECT_EQ(device.CountCalls("GetJobs"), 2);
}

TEST(FakeDevice, StatesLogAndCorrectionAreScripted) {
  FakeDevice device;
  device.deviceStates = {0, 1, 2};
  State state;
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(device.GetState(state), 0);
    seen.push_back(state.deviceState());
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 2}));

  device.log = {'o', 'k'};
  IUintVector8 log{9, 9, 9, 9};
  ASSERT_EQ(device.GetLog(log), 0);
  EXPECT_EQ(log.Items(), (std::vector<std::uint8_t>{'o', 'k'}));

  IUintVector8 in{1, 2};
  IUintVector8 out{7, 7, 7, 7, 7};
  IFloatVector spectrum{0.5f, 0.25f};
  ASSERT_EQ(device.CorrectExrImage(in, out, spectrum), 0);
  EXPECT_EQ(out.Items(), (std::vector<std::uint8_t>{1, 2, device.correctionMarker}));
  EXPECT_EQ(device.LastCorrectionSpectrum(), (std::vector<float>{0.5f, 0.25f}));
}

TEST(FakeDevice, ConnectWaitsOnItsOwnThreadUntilReleased) {
  std::thread worker;
  std::int32_t result = -1;
  {
    FakeDevice device;
    device.connectDelayMs = -1;
    device.connectNetworkResult = 42;
    const std::uint8_t address[4] = {192, 168, 0, 7};
    worker = std::thread([&] { result = device.ConnectNetwork(address); });
    ASSERT_TRUE(device.WaitForConnectsStarted(1, std::chrono::seconds(10)));
    EXPECT_THAT(device.Calls().at(0).args, testing::ElementsAre("192.168.0.7"));
    State state;
    EXPECT_EQ(device.GetState(state), 0) << "other operations go on during a connect";
    // Destroying the fake ends the wait and waits for the connect to leave.
  }
  worker.join();
  EXPECT_EQ(result, 42);

  FakeDevice device;
  device.connectDelayMs = 20;
  device.connectUsbResult = 3;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device.ConnectUsb(0), 3);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
