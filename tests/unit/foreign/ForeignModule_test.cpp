// The foreign modules of tests/foreign in this process: code that clang
// built for the platform's C++ ABI, against declarations of its own, calls
// every slot of every value class of ours and our log sink, and we call
// every slot of its device and second-family interfaces. Every field the
// module writes is checked here, also those that never reach the wire (the
// wine-integration run checks what does).
//
// The program lives in <build>/bin/foreign beside the foreign Vantorel_Cpp
// and Quarn_Cpp, so loading them by plain name finds those. The module keeps
// its jobs for the life of the process: every test uses its own job names.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "colour/ExrCodec.h"
#include "device/DeviceInterface.h"
#include "device/QuarnInterface.h"
#include "device/QuarnTest.h"
#include "foreign/ForeignValues.h"
#include "platform/Module.h"

namespace {

namespace fv = foreign_values;
using namespace Vexil::Device_Cpp;

class RecordingSink final : public LogInterface {
 public:
  void Message(const char* text) override { lines.push_back(std::string("M ") + text); }
  void Error(const char* text) override { lines.push_back(std::string("E ") + text); }
  void Warning(const char* text) override { lines.push_back(std::string("W ") + text); }
  bool Has(const std::string& line) const {
    for (const std::string& l : lines) {
      if (l == line) return true;
    }
    return false;
  }
  std::vector<std::string> lines;
};

void* ForeignExport(const char* module, const char* symbol) {
  Platform::ModuleHandle handle = Platform::LoadModule(module);
  return handle == nullptr ? nullptr : Platform::ResolveSymbol(handle, symbol);
}

// The sample request of the driver; `change` alters it for a case.
struct Request {
  IStringVector imageChannels{IString("ALL")};
  IStringVector spectralChannels{IString("ALL")};
  ImageChannelContentTypeVector imageTypes{0};
  SpectralChannelContentTypeVector spectralTypes{SpectralChannelContentType(0, 0),
                                                 SpectralChannelContentType(3, 0)};
  std::int32_t option1 = 5;
};
struct Sample {
  std::int32_t code = -1;
  SampleInfo info;
  ImageContentVector images;
  SpectrumContentVector spectra;
};

constexpr char kNotBuilt[] =
    "no foreign module beside this program: the Windows build found no clang or lld-link";

class ForeignDevice : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto get = reinterpret_cast<GetDeviceInterfaceFunction>(
        ForeignExport(kDeviceModuleName, kDeviceInterfaceExport));
    device = get != nullptr ? get() : nullptr;
    if (device == nullptr) return;
    device->SetLogger(&sink);
    device->ConnectUsb(0);
  }
  void SetUp() override {
    if (device == nullptr) GTEST_SKIP() << kNotBuilt;
  }

  // Stores a job the way the driver's add-job request does.
  static std::int32_t AddJob(const std::string& name, const std::u32string& make,
                             std::int32_t samples) {
    IJobDescription job;
    job.identifier().Text() = name;
    job.sampleCount() = samples;
    job.plannedSampleCount() = samples;
    job.displayTags().Items() = {
        Tag32(IString("DisplayName"), IString32(std::u32string(name.begin(), name.end()))),
        Tag32(IString("DisplayMake"), IString32(make))};
    job.tags().Items() = {Tag(IString("Make"), IString("")), Tag(IString("MakeId"), IString(""))};
    job.referenceName().Text() = "NONE";
    return device->AddJob(job);
  }

  static IJobInfo* Find(JobInfoVector& jobs, const std::string& name) {
    for (IJobInfo& job : jobs.Items()) {
      if (job.description().identifier().Text() == name) return &job;
    }
    return nullptr;
  }

  // Adds `name` and measures it (its state is read twice, as the module
  // finishes a measurement on the second look).
  static void AddMeasuredJob(const std::string& name, std::int32_t samples) {
    ASSERT_EQ(AddJob(name, U"blue", samples), 0);
    IString job(name);
    ASSERT_EQ(device->DoJob(job), 0);
    for (int look = 0; look < 2; ++look) {
      JobInfoVector jobs;
      ASSERT_EQ(device->GetJobs(jobs), 0);
    }
  }

  static std::string Log() {
    IUintVector8 bytes;
    EXPECT_EQ(device->GetLog(bytes), 0);
    return std::string(bytes.Items().begin(), bytes.Items().end());
  }

  static Sample GetSample(const std::string& name, std::int32_t index, Request request = {}) {
    Sample s;
    IString job(name);
    s.code = device->GetSample(job, index, request.imageChannels, request.spectralChannels,
                               request.imageTypes, request.spectralTypes, request.option1, 1,
                               s.info, s.images, s.spectra);
    return s;
  }

  static void ExpectSampleInfo(const SampleInfo& info, std::int32_t sample) {
    EXPECT_EQ(info.sampleIndex(), sample);
    const ITime& t = info.time();
    EXPECT_EQ(std::vector<int>({t.year(), t.month(), t.day(), t.hour(), t.minute(), t.second()}),
              std::vector<int>({24, 5, 17, 9, 30 + sample, 15}));
    EXPECT_EQ(info.temperature(), 21.5f);
    EXPECT_EQ(info.humidity(), 40.25f);
    EXPECT_EQ(info.supplyVoltage(), 5.125f);
    const AccelerationInfo& a = info.acceleration();
    EXPECT_EQ(std::vector<int>({a.x(), a.y(), a.z(), a.peak(), a.eventCount()}),
              std::vector<int>({1, -2, 3, 40 + sample, sample}));
    EXPECT_EQ(
        std::vector<int>({info.measureMode(), info.quality(), info.repeatCount(), info.flags()}),
        std::vector<int>({1, 99, 3, 0x81}));
  }

  static inline DeviceInterface* device = nullptr;
  static inline RecordingSink sink;
};

TEST_F(ForeignDevice, JobListThroughEverySlot) {
  EXPECT_TRUE(sink.Has(std::string("M ") + fv::kReadyMessage));
  ASSERT_EQ(AddJob("slots-1", U"Gr\u00fcn", 2), 0);
  // The module read every field of the description: its log line names them.
  EXPECT_NE(Log().find("added job slots-1 (version 0, 2 samples, planned 2, tags Make=,MakeId=, "
                       "display DisplayName=slots-1,DisplayMake=Gr\xc3\xbcn, reference NONE, "
                       "comment '')\n"),
            std::string::npos);
  EXPECT_EQ(AddJob("", U"x", 1), fv::kInvalidJob);
  EXPECT_EQ(AddJob("slots-x", U"x", fv::kMaxSamples + 1), fv::kInvalidJob);

  const unsigned key = fv::JobKey("slots-1");
  IString name("slots-1");
  ASSERT_EQ(device->DoJob(name), 0);
  for (const std::int32_t state : {fv::kMeasuring, fv::kMeasured}) {
    JobInfoVector jobs;
    ASSERT_EQ(device->GetJobs(jobs), 0);
    const IJobInfo* job = Find(jobs, "slots-1");
    ASSERT_NE(job, nullptr);
    const IJobDescription& d = job->description();
    EXPECT_EQ(d.version(), 0);
    ASSERT_EQ(d.tags().Items().size(), 2u);
    EXPECT_EQ(d.tags().Items()[0].name().Text(), "Make");
    EXPECT_EQ(d.tags().Items()[0].value().Text(), "Gr\xc3\xbcn");
    EXPECT_EQ(d.tags().Items()[1].name().Text(), "MakeId");
    EXPECT_EQ(d.tags().Items()[1].value().Text(), std::to_string(key));
    ASSERT_EQ(d.displayTags().Items().size(), 2u);
    EXPECT_EQ(d.displayTags().Items()[0].name().Text(), "DisplayName");
    EXPECT_EQ(d.displayTags().Items()[0].value().Text(), U"slots-1");
    EXPECT_EQ(d.displayTags().Items()[1].name().Text(), "DisplayMake");
    EXPECT_EQ(d.displayTags().Items()[1].value().Text(), U"Gr\u00fcn");
    EXPECT_EQ(d.sampleCount(), 2);
    EXPECT_EQ(d.comment().Text(), fv::kComment);
    EXPECT_EQ(d.referenceName().Text(), "NONE");
    EXPECT_EQ(d.plannedSampleCount(), 2);

    const std::int32_t measured = state == fv::kMeasured ? 2 : 0;
    EXPECT_EQ(job->modeInfo().stateCode(), state);
    EXPECT_EQ(job->modeInfo().modeName().Text(), fv::kModeName);
    EXPECT_EQ(job->modeInfo().measuredSamples(), measured);
    EXPECT_EQ(job->modeInfo().modeFlags(), 0x5A);
    ASSERT_EQ(job->samples().Items().size(), static_cast<std::size_t>(measured));
    for (std::int32_t s = 0; s < measured; ++s) ExpectSampleInfo(job->samples().Items()[s], s);
    ASSERT_EQ(job->extraData().Items().size(), 4u);
    EXPECT_EQ(job->extraData().Items()[2], static_cast<std::uint8_t>(key));
  }
  EXPECT_EQ(device->DeleteJob(name), 0);
}

TEST_F(ForeignDevice, StateThroughEverySlot) {
  State state;
  ASSERT_EQ(device->GetState(state), 0);
  EXPECT_EQ(state.deviceState(), 2);  // connected, nothing measuring
  EXPECT_EQ(state.connectionKind(), 1);
  EXPECT_EQ(state.batteryLevel(), 87);
  EXPECT_EQ(state.time().hour(), 10);
  EXPECT_EQ(state.time().second(), 15);
  EXPECT_EQ(std::vector<int>({state.lastError(), state.calibrationState(), state.powerState(),
                              state.lidState()}),
            std::vector<int>({0, 1, 1, 0}));
  EXPECT_EQ(state.statusData().Items(), (std::vector<std::uint8_t>{'F', 'S', 2}));
  ASSERT_EQ(state.entities().Items().size(), 2u);
  const EntityState& sensor = state.entities().Items()[1];
  EXPECT_EQ(sensor.entityId(), 2);
  EXPECT_EQ(sensor.name().Text(), "sensor");
  EXPECT_EQ(sensor.kind().Text(), "camera");
  EXPECT_EQ(sensor.status().Text(), "ok");
  EXPECT_EQ(sensor.statusCode(), 1);
}

TEST_F(ForeignDevice, SampleContentsThroughEverySlot) {
  AddMeasuredJob("slots-2", 2);
  const unsigned key = fv::JobKey("slots-2");
  Sample s = GetSample("slots-2", 1);
  ASSERT_EQ(s.code, 0);
  ExpectSampleInfo(s.info, 1);

  ASSERT_EQ(s.spectra.Items().size(), static_cast<std::size_t>(fv::kGeometryCount));
  for (int g = 0; g < fv::kGeometryCount; ++g) {
    const SpectrumContent& content = s.spectra.Items()[g];
    EXPECT_EQ(content.geometry().Text(), fv::kGeometries[g]);
    ASSERT_EQ(content.contents().Items().size(), 2u);
    const SpectralContentData& spectral = content.contents().Items()[0];
    EXPECT_EQ(spectral.channelType().contentKind(), 0);
    EXPECT_EQ(spectral.spectrum().description().firstWavelength(), 400);
    EXPECT_EQ(spectral.spectrum().description().wavelengthStep(), 10);
    std::vector<float> expected;
    for (int i = 0; i < fv::kSpectralCount; ++i) expected.push_back(fv::Spectral(key, 1, g, i));
    EXPECT_EQ(spectral.spectrum().values().Items(), expected);
    const SpectralContentData& colour = content.contents().Items()[1];
    EXPECT_EQ(colour.channelType().contentKind(), 3);
    EXPECT_EQ(colour.channelType().variant(), 0);
    const Lab& lab = colour.lab();
    EXPECT_EQ(std::vector<float>({*lab.GetL(), *lab.GetA(), *lab.GetB()}),
              std::vector<float>({fv::LabValue(key, 1, g, 0), fv::LabValue(key, 1, g, 1),
                                  fv::LabValue(key, 1, g, 2)}));
    EXPECT_EQ(*lab.GetCondition()->GetIlluminant(), fv::kIlluminant);
    EXPECT_EQ(*lab.GetCondition()->GetObserver(), fv::kObserver);
  }

  ASSERT_EQ(s.images.Items().size(), static_cast<std::size_t>(fv::kImageCount));
  for (int k = 0; k < fv::kImageCount; ++k) {
    const int g = fv::kImageGeometries[k];
    const ImageContent& content = s.images.Items()[k];
    EXPECT_EQ(content.geometry().Text(), fv::kGeometries[g]);
    ASSERT_EQ(content.contents().Items().size(), 1u);
    const ImageContentData& item = content.contents().Items()[0];
    EXPECT_EQ(item.channelType(), 0);
    EXPECT_EQ(item.exr().description().header().Items(),
              (std::vector<std::uint8_t>{'F', 'X', 'R', static_cast<std::uint8_t>(k + 1)}));
    colour::Image image;
    ASSERT_TRUE(colour::DecodeExr(item.exr().data().Items(), image));
    ASSERT_EQ(image.width, fv::kImageSide);
    for (int y = 0; y < fv::kImageSide; ++y) {
      for (int x = 0; x < fv::kImageSide; ++x) {
        for (int c = 0; c < 3; ++c) {
          EXPECT_EQ(image.rgb[3 * (y * fv::kImageSide + x) + c], fv::Pixel(key, 1, g, x, y, c));
        }
      }
    }
    const Texture& texture = item.texture();
    EXPECT_EQ(texture.description().name().Text(), fv::kTextureName);
    EXPECT_EQ(std::vector<int>({texture.value0(), texture.value5(), texture.value10()}),
              std::vector<int>({100, 105, 110}));
    ASSERT_EQ(item.qcParameters().Items().size(), 1u);
    EXPECT_EQ(item.qcParameters().Items()[0].name().Text(), "grain");
    EXPECT_EQ(item.qcParameters().Items()[0].value().Text(), "fine");
    EXPECT_EQ(item.qcParameters().Items()[0].flags(), 7);
  }
}

TEST_F(ForeignDevice, SampleRequestIsReadThroughItsSlots) {
  AddMeasuredJob("slots-3", 1);
  struct Case {
    const char* what;
    void (*change)(Request&);
    std::int32_t code;
  };
  const Case cases[] = {
      {"as the driver sends it", [](Request&) {}, 0},
      {"other image channel", [](Request& r) { r.imageChannels.Items()[0].Text() = "r15as45"; },
       fv::kUnexpectedRequest},
      {"two spectral channels",
       [](Request& r) { r.spectralChannels.Items().push_back(IString("ALL")); },
       fv::kUnexpectedRequest},
      {"image type 1", [](Request& r) { r.imageTypes.Items()[0] = 1; }, fv::kUnexpectedRequest},
      {"colour kind variant 1",
       [](Request& r) { r.spectralTypes.Items()[1] = SpectralChannelContentType(3, 1); },
       fv::kUnexpectedRequest},
      {"first option 4", [](Request& r) { r.option1 = 4; }, fv::kUnexpectedRequest},
  };
  for (const Case& c : cases) {
    Request request;
    c.change(request);
    EXPECT_EQ(GetSample("slots-3", 0, request).code, c.code) << c.what;
  }
  EXPECT_EQ(GetSample("slots-3", 1).code, fv::kSampleNotMeasured);
  EXPECT_EQ(GetSample("no such job", 0).code, fv::kUnknownJob);
}

TEST_F(ForeignDevice, CorrectExrImageScalesColourByTheMeanSpectralValue) {
  AddMeasuredJob("slots-4", 1);
  Sample s = GetSample("slots-4", 0);
  ASSERT_EQ(s.code, 0);
  IUintVector8 in(s.images.Items()[0].contents().Items()[0].exr().data().Items());
  IFloatVector half(std::vector<float>(fv::kSpectralCount, 0.5f));
  IUintVector8 out;
  ASSERT_EQ(device->CorrectExrImage(in, out, half), 0);
  colour::Image before;
  colour::Image after;
  ASSERT_TRUE(colour::DecodeExr(in.Items(), before));
  ASSERT_TRUE(colour::DecodeExr(out.Items(), after));
  ASSERT_EQ(after.rgb.size(), before.rgb.size());
  for (std::size_t i = 0; i < before.rgb.size(); ++i) EXPECT_EQ(after.rgb[i], before.rgb[i] * 0.5f);

  IFloatVector tooFew(std::vector<float>(20, 0.5f));
  EXPECT_EQ(device->CorrectExrImage(in, out, tooFew), fv::kBadCorrectionInput);
  IUintVector8 notAnImage(std::vector<std::uint8_t>(64, 7));
  EXPECT_EQ(device->CorrectExrImage(notAnImage, out, half), fv::kImageNotUnderstood);
}

TEST_F(ForeignDevice, ReportsToTheSinkAndLogsMessagesAndConnects) {
  IString unknown("nope");
  device->DeleteJob(unknown);
  EXPECT_TRUE(sink.Has(std::string("W ") + fv::kNoJobWarning + "nope"));
  const std::uint8_t none[4] = {0, 0, 0, 0};
  EXPECT_EQ(device->ConnectNetwork(none), fv::kAddressRefused);
  EXPECT_TRUE(sink.Has(std::string("E ") + fv::kRefusedError));
  const std::uint8_t address[4] = {10, 0, 0, 7};
  EXPECT_EQ(device->ConnectNetwork(address), 0);

  IString32 message(U"Gr\u00fc\u00dfe \u2713 \U0001D11E");
  EXPECT_EQ(device->SendUserMessage(message), 0);
  IString32 tooLong(std::u32string(fv::kMaxMessageCodePoints + 1, U'x'));
  EXPECT_EQ(device->SendUserMessage(tooLong), fv::kMessageTooLong);
  const std::string log = Log();
  EXPECT_NE(log.find("connected over the network to 10.0.0.7\n"), std::string::npos);
  EXPECT_NE(log.find("user message: Gr\xc3\xbc\xc3\x9f"
                     "e \xe2\x9c\x93 \xf0\x9d\x84\x9e\n"),
            std::string::npos);
}

TEST(ForeignQuarn, SelfTestPrintsItsIdentityAndEverySlotAnswersItsNumber) {
  auto get = reinterpret_cast<GetQuarnInterfaceFunction>(
      ForeignExport(kQuarnModuleName, kQuarnInterfaceExport));
  if (get == nullptr) GTEST_SKIP() << kNotBuilt;

  testing::internal::CaptureStdout();
  TestQuarn();
  std::string expected = std::string("Device Info:\n\tSerial: ") + fv::kQuarnSerial +
                         "\n\tWhite Tile: " + fv::kQuarnWhiteTile +
                         "\n\tCalibration Date: " + fv::kQuarnCalibrationDate +
                         "\n\tInstrument Type: " + fv::kQuarnType + "\n\tAngles: \n";
  for (const char* angle : fv::kQuarnAngles) expected += std::string("\t\t") + angle + "\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);

  QuarnInterface& quarn = *get();
  using Slot = std::int32_t (QuarnInterface::*)();
  const Slot numbered[] = {
      &QuarnInterface::Reserved01, &QuarnInterface::Reserved03, &QuarnInterface::Reserved04,
      &QuarnInterface::Reserved05, &QuarnInterface::Reserved06, &QuarnInterface::Reserved07,
      &QuarnInterface::Reserved08, &QuarnInterface::Reserved09, &QuarnInterface::Reserved10,
      &QuarnInterface::Reserved11, &QuarnInterface::Reserved12, &QuarnInterface::Reserved13,
      &QuarnInterface::Reserved14, &QuarnInterface::Reserved15, &QuarnInterface::Reserved16,
      &QuarnInterface::Reserved17, &QuarnInterface::Reserved18, &QuarnInterface::Reserved19,
      &QuarnInterface::Reserved20, &QuarnInterface::Reserved22, &QuarnInterface::Reserved23,
      &QuarnInterface::Reserved24, &QuarnInterface::Reserved25, &QuarnInterface::Reserved26,
      &QuarnInterface::Reserved27, &QuarnInterface::Reserved28};
  std::vector<std::int32_t> answers;
  for (Slot slot : numbered) answers.push_back((quarn.*slot)());
  EXPECT_EQ(answers,
            (std::vector<std::int32_t>{1,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                       15, 16, 17, 18, 19, 20, 22, 23, 24, 25, 26, 27, 28}));
  EXPECT_EQ(quarn.Open(1, 0), -1);
}

}  // namespace
