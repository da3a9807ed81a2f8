// The virtual instrument as the driver sees it: connection, job life cycle,
// sample contents, image correction, log and concurrent use.
#include "sim/instrument/VirtualInstrument.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>

#include "InstrumentTestSupport.h"
#include "colour/Colorimetry.h"
#include "colour/ExrCodec.h"
#include "sim/instrument/Geometries.h"
#include "sim/instrument/SimCodes.h"

namespace instrument::test {
namespace {

std::vector<float> Values(dv::SpectralContentData& item) {
  return item.spectrum().values().Items();
}

std::string LogText(dv::DeviceInterface& device) {
  dv::IUintVector8 bytes;
  EXPECT_EQ(device.GetLog(bytes), 0);
  return std::string(bytes.Items().begin(), bytes.Items().end());
}

TEST(VirtualInstrument, WithoutConnectionOnlyStateLogMessagesAndImagesWork) {
  VirtualInstrument device(FastConfig());
  std::int32_t code = -1;
  EXPECT_EQ(DeviceState(device, &code), kDeviceNotConnected);
  EXPECT_EQ(code, 0);

  dv::IString job("J");
  dv::JobInfoVector jobs;
  EXPECT_EQ(device.DoJob(job), kNotConnectedCode);
  EXPECT_EQ(device.Cancel(), kNotConnectedCode);
  EXPECT_EQ(device.GetJobs(jobs), kNotConnectedCode);
  EXPECT_EQ(AddJob(device, "J", U"Make", 1), kNotConnectedCode);
  EXPECT_EQ(device.DeleteJob(job), kNotConnectedCode);
  EXPECT_EQ(FetchSample(device, "J", 0).code, kNotConnectedCode);

  dv::IString32 message(U"hello");
  EXPECT_EQ(device.SendUserMessage(message), 0);
  EXPECT_NE(LogText(device).find("user message: hello"), std::string::npos);
}

TEST(VirtualInstrument, ConnectNetworkRefusesTheNullAddressAndConnectsOtherwise) {
  VirtualInstrument device(FastConfig());
  const std::uint8_t none[4] = {0, 0, 0, 0};
  const std::uint8_t local[4] = {127, 0, 0, 1};
  EXPECT_EQ(device.ConnectNetwork(none), kAddressRefusedCode);
  EXPECT_EQ(device.ConnectNetwork(nullptr), kAddressRefusedCode);
  EXPECT_EQ(DeviceState(device), kDeviceNotConnected);
  EXPECT_EQ(device.ConnectNetwork(local), 0);
  EXPECT_EQ(DeviceState(device), kDeviceReady);
  // A refused attempt ends the session.
  EXPECT_EQ(device.ConnectNetwork(none), kAddressRefusedCode);
  EXPECT_EQ(DeviceState(device), kDeviceNotConnected);
  EXPECT_NE(LogText(device).find("connected over network address 127.0.0.1"), std::string::npos);
}

TEST(VirtualInstrument, JobGoesFromStoredThroughMeasuringToMeasured) {
  SimConfig config = FastConfig();
  config.sampleMs = 60;
  VirtualInstrument device(config);
  ASSERT_EQ(device.ConnectUsb(0), 0);
  ASSERT_EQ(AddJob(device, "Door left", U"Azur\u00e9", 3), 0);

  dv::JobInfoVector jobs;
  ASSERT_EQ(device.GetJobs(jobs), 0);
  ASSERT_EQ(jobs.Items().size(), 1u);
  dv::IJobDescription& description = jobs.Items()[0].description();
  EXPECT_EQ(description.identifier().Text(), "Door left");
  EXPECT_EQ(description.sampleCount(), 3);
  EXPECT_EQ(description.plannedSampleCount(), 3);
  EXPECT_EQ(description.referenceName().Text(), "NONE");
  ASSERT_EQ(description.displayTags().Items().size(), 2u);
  EXPECT_EQ(description.displayTags().Items()[1].value().Text(), U"Azur\u00e9");
  ASSERT_EQ(description.tags().Items().size(), 2u);
  EXPECT_EQ(description.tags().Items()[1].name().Text(), "MakeId");
  EXPECT_EQ(jobs.Items()[0].modeInfo().stateCode(), kJobStored);
  EXPECT_EQ(FetchSample(device, "Door left", 0).code, kSampleNotMeasuredCode);

  dv::IString id("Door left");
  ASSERT_EQ(device.DoJob(id), 0);
  EXPECT_EQ(JobState(device, "Door left"), kJobMeasuring);
  EXPECT_EQ(DeviceState(device), kDeviceBusy);
  ASSERT_TRUE(WaitForJobState(device, "Door left", kJobMeasured));
  EXPECT_EQ(DeviceState(device), kDeviceReady);

  for (int i = 0; i < 3; ++i) EXPECT_EQ(FetchSample(device, "Door left", i).code, 0) << i;
  EXPECT_EQ(FetchSample(device, "Door left", 3).code, kSampleNotMeasuredCode);
  EXPECT_EQ(FetchSample(device, "Door left", -1).code, kSampleNotMeasuredCode);
  EXPECT_EQ(FetchSample(device, "Door right", 0).code, kUnknownJobCode);
  dv::IString unknown("Door right");
  EXPECT_EQ(device.DoJob(unknown), kUnknownJobCode);

  jobs = dv::JobInfoVector();
  ASSERT_EQ(device.GetJobs(jobs), 0);
  EXPECT_EQ(jobs.Items()[0].samples().Items().size(), 3u);
  EXPECT_EQ(jobs.Items()[0].samples().Items()[2].sampleIndex(), 2);
}

TEST(VirtualInstrument, SampleDeliversElevenSpectraAndSixImagesInFixedOrder) {
  VirtualInstrument device(FastConfig());
  ASSERT_EQ(device.ConnectUsb(0), 0);
  ASSERT_EQ(AddJob(device, "J", U"Silver", 2), 0);
  dv::IString id("J");
  ASSERT_EQ(device.DoJob(id), 0);
  ASSERT_TRUE(WaitForJobState(device, "J", kJobMeasured));

  SampleResult sample = FetchSample(device, "J", 1);
  ASSERT_EQ(sample.code, 0);
  EXPECT_EQ(sample.info.sampleIndex(), 1);
  auto& spectra = sample.spectra.Items();
  ASSERT_EQ(spectra.size(), kGeometryCount);
  for (std::size_t g = 0; g < kGeometryCount; ++g) {
    SCOPED_TRACE(kMeasurementGeometries[g].name);
    EXPECT_EQ(spectra[g].geometry().Text(), kMeasurementGeometries[g].name);
    auto& items = spectra[g].contents().Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].channelType().contentKind(), 0);
    EXPECT_EQ(items[1].channelType().contentKind(), 3);
    EXPECT_EQ(items[0].spectrum().description().firstWavelength(), 400);
    const std::vector<float> values = Values(items[0]);
    ASSERT_EQ(values.size(), kSpectrumSize);
    for (const float v : values) EXPECT_TRUE(v > 0.0f && v < 3.0f);
    const colour::Lab lab = colour::SpectrumToLab(std::span<const float, 31>(values.data(), 31));
    EXPECT_NEAR(*items[1].lab().GetL(), lab.l, 1e-3);
    EXPECT_NEAR(*items[1].lab().GetA(), lab.a, 1e-3);
    EXPECT_NEAR(*items[1].lab().GetB(), lab.b, 1e-3);
  }

  auto& images = sample.images.Items();
  ASSERT_EQ(images.size(), kImageCount);
  for (std::size_t i = 0; i < kImageCount; ++i) {
    const std::size_t g = kImageGeometries[i];
    SCOPED_TRACE(kMeasurementGeometries[g].name);
    EXPECT_EQ(images[i].geometry().Text(), kMeasurementGeometries[g].name);
    ASSERT_EQ(images[i].contents().Items().size(), 1u);
    colour::Image image;
    ASSERT_TRUE(colour::DecodeExr(images[i].contents().Items()[0].exr().data().Items(), image));
    EXPECT_EQ(image.width, 16);
    EXPECT_EQ(image.height, 16);
    // The image's mean colour is the colour of the geometry's spectrum.
    const std::vector<float> values = Values(spectra[g].contents().Items()[0]);
    const colour::LinearRgb expected =
        colour::SpectrumToLinearSrgb(std::span<const float, 31>(values.data(), 31));
    const colour::LinearRgb mean = colour::MeanColour(image);
    EXPECT_NEAR(mean.r, expected.r, 0.01 * std::abs(expected.r) + 1e-3);
    EXPECT_NEAR(mean.g, expected.g, 0.01 * std::abs(expected.g) + 1e-3);
    EXPECT_NEAR(mean.b, expected.b, 0.01 * std::abs(expected.b) + 1e-3);
  }
}

TEST(VirtualInstrument, SampleValuesDependOnlyOnJobSampleAndGeometry) {
  auto measure = [](const std::string& id, const std::u32string& make) {
    VirtualInstrument device(FastConfig());
    EXPECT_EQ(device.ConnectUsb(0), 0);
    EXPECT_EQ(AddJob(device, id, make, 2), 0);
    dv::IString job(id.c_str());
    EXPECT_EQ(device.DoJob(job), 0);
    EXPECT_TRUE(WaitForJobState(device, id, kJobMeasured));
    return std::make_pair(FetchSample(device, id, 0), FetchSample(device, id, 1));
  };
  auto first = measure("Hood", U"Crimson");
  auto again = measure("Hood", U"Crimson");
  auto otherMake = measure("Hood", U"Ocean");

  auto& s0 = first.first.spectra.Items();
  auto& s1 = first.second.spectra.Items();
  auto& r0 = again.first.spectra.Items();
  auto& m0 = otherMake.first.spectra.Items();
  ASSERT_EQ(s0.size(), kGeometryCount);
  ASSERT_EQ(r0.size(), kGeometryCount);
  for (std::size_t g = 0; g < kGeometryCount; ++g) {
    EXPECT_EQ(Values(s0[g].contents().Items()[0]), Values(r0[g].contents().Items()[0]));
    // Another sample differs a little, not much.
    const auto a = Values(s0[g].contents().Items()[0]);
    const auto b = Values(s1[g].contents().Items()[0]);
    EXPECT_NE(a, b);
    for (std::size_t i = 0; i < kSpectrumSize; ++i) EXPECT_NEAR(b[i] / a[i], 1.0, 0.06);
  }
  EXPECT_EQ(first.first.images.Items()[0].contents().Items()[0].exr().data().Items(),
            again.first.images.Items()[0].contents().Items()[0].exr().data().Items());

  // The make decides the colour.
  const float da =
      *s0[3].contents().Items()[1].lab().GetA() - *m0[3].contents().Items()[1].lab().GetA();
  const float db =
      *s0[3].contents().Items()[1].lab().GetB() - *m0[3].contents().Items()[1].lab().GetB();
  const float dl =
      *s0[3].contents().Items()[1].lab().GetL() - *m0[3].contents().Items()[1].lab().GetL();
  EXPECT_GT(std::sqrt(da * da + db * db + dl * dl), 3.0f);
}

TEST(VirtualInstrument, BusyWhileMeasuringAndCancelKeepsWhatWasMeasured) {
  SimConfig config = FastConfig();
  config.sampleMs = 80;
  VirtualInstrument device(config);
  ASSERT_EQ(device.ConnectUsb(0), 0);
  ASSERT_EQ(AddJob(device, "A", U"Red", 6), 0);
  ASSERT_EQ(AddJob(device, "B", U"Red", 1), 0);
  EXPECT_EQ(device.Cancel(), 0);  // nothing running

  dv::IString a("A"), b("B");
  ASSERT_EQ(device.DoJob(a), 0);
  EXPECT_EQ(device.DoJob(b), kBusyCode);
  EXPECT_EQ(device.DoJob(a), kBusyCode);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (FetchSample(device, "A", 0).code != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(device.Cancel(), 0);
  EXPECT_EQ(JobState(device, "A"), kJobStored);
  EXPECT_EQ(DeviceState(device), kDeviceReady);
  EXPECT_EQ(FetchSample(device, "A", 0).code, 0);

  // Nothing more is measured after the cancel.
  int measured = 0;
  for (int i = 0; i < 6; ++i) measured += FetchSample(device, "A", i).code == 0 ? 1 : 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int later = 0;
  for (int i = 0; i < 6; ++i) later += FetchSample(device, "A", i).code == 0 ? 1 : 0;
  EXPECT_EQ(later, measured);
  EXPECT_LT(measured, 6);

  // Another job can run now, and measuring A again starts from scratch.
  ASSERT_EQ(device.DoJob(b), 0);
  ASSERT_TRUE(WaitForJobState(device, "B", kJobMeasured));
  ASSERT_EQ(device.DoJob(a), 0);
  EXPECT_EQ(FetchSample(device, "A", 0).code, kSampleNotMeasuredCode);
  ASSERT_TRUE(WaitForJobState(device, "A", kJobMeasured));
}

TEST(VirtualInstrument, JobsKeepStoreOrderAndAnExistingIdentifierIsReplaced) {
  VirtualInstrument device(FastConfig());
  ASSERT_EQ(device.ConnectUsb(0), 0);
  for (const char* id : {"A", "B", "C"}) ASSERT_EQ(AddJob(device, id, U"Grey", 1), 0);
  dv::IString a("A");
  ASSERT_EQ(device.DoJob(a), 0);
  ASSERT_TRUE(WaitForJobState(device, "A", kJobMeasured));
  ASSERT_EQ(AddJob(device, "A", U"Grey", 4), 0);

  dv::JobInfoVector jobs;
  ASSERT_EQ(device.GetJobs(jobs), 0);
  std::vector<std::string> order;
  for (auto& job : jobs.Items()) order.push_back(job.description().identifier().Text());
  EXPECT_EQ(order, (std::vector<std::string>{"B", "C", "A"}));
  EXPECT_EQ(jobs.Items()[2].description().sampleCount(), 4);
  EXPECT_EQ(jobs.Items()[2].modeInfo().stateCode(), kJobStored);
  EXPECT_EQ(FetchSample(device, "A", 0).code, kSampleNotMeasuredCode);

  dv::IString b("B");
  EXPECT_EQ(device.DeleteJob(b), 0);
  EXPECT_EQ(device.DeleteJob(b), kUnknownJobCode);
  EXPECT_EQ(JobState(device, "B"), -1);

  // Invalid descriptions are refused and change nothing.
  EXPECT_EQ(AddJob(device, "", U"Grey", 1), kInvalidJobCode);
  EXPECT_EQ(AddJob(device, "D", U"Grey", -1), kInvalidJobCode);
  EXPECT_EQ(AddJob(device, "D", U"Grey", kMaxSampleCount + 1), kInvalidJobCode);
  EXPECT_EQ(AddJob(device, std::string(kMaxTextBytes + 1, 'x'), U"Grey", 1), kInvalidJobCode);
  jobs = dv::JobInfoVector();
  ASSERT_EQ(device.GetJobs(jobs), 0);
  EXPECT_EQ(jobs.Items().size(), 2u);
}

TEST(VirtualInstrument, CorrectExrImageMatchesTheSpectrumOrRefusesGarbage) {
  VirtualInstrument device(FastConfig());
  ASSERT_EQ(device.ConnectUsb(0), 0);
  ASSERT_EQ(AddJob(device, "J", U"Blue", 1), 0);
  dv::IString id("J");
  ASSERT_EQ(device.DoJob(id), 0);
  ASSERT_TRUE(WaitForJobState(device, "J", kJobMeasured));
  SampleResult sample = FetchSample(device, "J", 0);
  ASSERT_EQ(sample.code, 0);

  dv::IUintVector8 in(sample.images.Items()[0].contents().Items()[0].exr().data().Items());
  dv::IFloatVector grey(std::vector<float>(31, 0.5f));
  dv::IUintVector8 out;
  ASSERT_EQ(device.CorrectExrImage(in, out, grey), 0);
  colour::Image image;
  ASSERT_TRUE(colour::DecodeExr(out.Items(), image));
  const colour::LinearRgb mean = colour::MeanColour(image);
  std::array<float, 31> half;
  half.fill(0.5f);
  const colour::LinearRgb target = colour::SpectrumToLinearSrgb(half);
  EXPECT_NEAR(mean.r, target.r, 0.01);
  EXPECT_NEAR(mean.g, target.g, 0.01);
  EXPECT_NEAR(mean.b, target.b, 0.01);

  dv::IUintVector8 garbage(std::vector<std::uint8_t>{0x76, 0x2f, 0x31, 0x01, 1, 2, 3});
  dv::IUintVector8 untouched(std::vector<std::uint8_t>{9, 9});
  EXPECT_EQ(device.CorrectExrImage(garbage, untouched, grey), kImageNotDecodableCode);
  EXPECT_EQ(untouched.Items(), (std::vector<std::uint8_t>{9, 9}));
  dv::IUintVector8 empty;
  EXPECT_EQ(device.CorrectExrImage(empty, untouched, grey), kImageNotDecodableCode);
  dv::IFloatVector shortSpectrum(std::vector<float>(30, 0.5f));
  EXPECT_EQ(device.CorrectExrImage(in, untouched, shortSpectrum), kInvalidJobCode);
  EXPECT_EQ(untouched.Items(), (std::vector<std::uint8_t>{9, 9}));
}

TEST(VirtualInstrument, UserMessagesAndOperationsReachLogAndSink) {
  RecordingLogger logger;  // outlives the device, which may still forward to it
  VirtualInstrument device(FastConfig());
  ASSERT_EQ(device.SetLogger(&logger), 0);
  ASSERT_EQ(device.ConnectUsb(0), 0);
  const char32_t text[] = {U'h', 0xE9, U' ', 0xD800, U' ', 0x110000, U'\n', U'x', 0};
  dv::IString32 message(text);
  ASSERT_EQ(device.SendUserMessage(message), 0);

  const std::string log = LogText(device);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
  EXPECT_EQ(log.find('\0'), std::string::npos);
  EXPECT_NE(log.find("user message: h\xC3\xA9 \xEF\xBF\xBD \xEF\xBF\xBD x\n"), std::string::npos);
  EXPECT_TRUE(logger.Contains("M user message: h\xC3\xA9 "));
  EXPECT_TRUE(logger.Contains("M connected over USB"));
  EXPECT_TRUE(logger.Contains("M virtual instrument started"));  // held until the sink came
}

TEST(VirtualInstrument, ConnectOnWorkerThreadWhileOtherThreadUsesTheInstrument) {
  SimConfig config = FastConfig();
  config.connectMs = 100;
  VirtualInstrument device(config);
  std::atomic<std::int32_t> result{-1};
  std::thread worker([&] { result = device.ConnectUsb(0); });

  // The connect sleeps without holding the instrument: state reads stay quick.
  bool sawNotConnected = false, sawReady = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!sawReady && std::chrono::steady_clock::now() < deadline) {
    const auto before = std::chrono::steady_clock::now();
    std::int32_t code = -1;
    const std::uint8_t state = DeviceState(device, &code);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(state == kDeviceNotConnected || state == kDeviceReady) << int(state);
    sawNotConnected |= state == kDeviceNotConnected;
    sawReady |= state == kDeviceReady;
    dv::IUintVector8 log;
    device.GetLog(log);
  }
  worker.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_TRUE(sawNotConnected);
  EXPECT_TRUE(sawReady);
}

}  // namespace
}  // namespace instrument::test
