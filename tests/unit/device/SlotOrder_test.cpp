// The slot tables of the boundary classes, as a separately built module sees
// them.
//
// A module is compiled against its own declarations of these classes: only
// the order of the virtual operations has to agree with ours, not the names.
// The `module_view` classes below are such declarations, written from the
// contract, and the functions taking `void*` act like module code: they
// reach our objects through those slot tables alone. If a virtual operation
// of ours is reordered, inserted or removed, they reach the wrong slot and
// these tests fail. The views live in a named namespace and this file is
// built without devirtualization, so that the compiler cannot resolve the
// calls from the (empty) class hierarchy of a view, and without the vptr
// sanitizer, which would rightly object to calls through a foreign class.
//
// Both sides are built by one compiler here, so a layout that differs between
// compilers cannot show; the foreign modules (tests/foreign, built by clang
// for the Windows platform ABI) are the counterpart that can.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "device/DeviceValues.h"
#include "device/DeviceVectorImpl.h"
#include "device/QuarnInterface.h"
#include "device/VantorelLogger.h"
#include "fakes/FakeDevice.h"

namespace module_view {

// The destructor slot as a module built for this target lays it out: a
// virtual destructor, except under mingw-w64, whose own ABI would give it two
// slots where the platform's compiler gives one (see device/BoundaryAbi.h).
#if defined(_WIN32) && !defined(_MSC_VER)
#define DESTRUCTOR_SLOT(View) virtual void* DestroySlot(unsigned int flags) = 0
#else
#define DESTRUCTOR_SLOT(View) virtual ~View() = 0
#endif

struct String {
  DESTRUCTOR_SLOT(String);
  virtual void Set(const char*) = 0;
  virtual const char* Chars() = 0;
  virtual std::uint32_t Length() = 0;
};
struct String32 {
  DESTRUCTOR_SLOT(String32);
  virtual void Set(const char32_t*) = 0;
  virtual const char32_t* Chars() = 0;
  virtual std::uint32_t Length() = 0;
};
template <typename T>
struct Vector {
  DESTRUCTOR_SLOT(Vector);
  virtual std::uint32_t Count() = 0;
  virtual void Resize(std::uint32_t) = 0;
  virtual T& At(std::uint32_t) = 0;
};
struct Tag {
  DESTRUCTOR_SLOT(Tag);
  virtual String& Name() = 0;
  virtual String& Value() = 0;
};
struct Tag32 {
  DESTRUCTOR_SLOT(Tag32);
  virtual String& Name() = 0;
  virtual String32& Value() = 0;
};
struct Time {
  DESTRUCTOR_SLOT(Time);
  virtual std::uint8_t& F1() = 0;
  virtual std::uint8_t& F2() = 0;
  virtual std::uint8_t& F3() = 0;
  virtual std::uint8_t& F4() = 0;
  virtual std::uint8_t& F5() = 0;
  virtual std::uint8_t& F6() = 0;
};
struct Acceleration {
  DESTRUCTOR_SLOT(Acceleration);
  virtual std::int32_t& F1() = 0;
  virtual std::int32_t& F2() = 0;
  virtual std::int32_t& F3() = 0;
  virtual std::int32_t& F4() = 0;
  virtual std::int32_t& F5() = 0;
};
struct Sample {
  DESTRUCTOR_SLOT(Sample);
  virtual std::int32_t& F1() = 0;
  virtual Time& TimeField() = 0;
  virtual float& Float1() = 0;
  virtual float& Float2() = 0;
  virtual float& Float3() = 0;
  virtual Acceleration& AccelerationField() = 0;
  virtual std::uint8_t& Byte1() = 0;
  virtual std::uint8_t& Byte2() = 0;
  virtual std::uint8_t& Byte3() = 0;
  virtual std::uint8_t& Byte4() = 0;
};
struct JobDescription {
  DESTRUCTOR_SLOT(JobDescription);
  virtual std::int32_t& Version() = 0;
  virtual String& Identifier() = 0;
  virtual Vector<Tag>& Tags() = 0;
  virtual Vector<Tag32>& DisplayTags() = 0;
  virtual std::int32_t& SampleCount() = 0;
  virtual String& Comment() = 0;
  virtual String& Reference() = 0;
  virtual std::int32_t& PlannedCount() = 0;
};
struct ModeInfo {  // no destructor slot
  virtual std::int32_t& StateCode() = 0;
  virtual String& Mode() = 0;
  virtual std::int32_t& F3() = 0;
  virtual std::int32_t& F4() = 0;
};
struct JobInfo {
  DESTRUCTOR_SLOT(JobInfo);
  virtual JobDescription& Description() = 0;
  virtual Vector<Sample>& Samples() = 0;
  virtual ModeInfo& Mode() = 0;
  virtual Vector<std::uint8_t>& Extra() = 0;
};
struct Entity {
  DESTRUCTOR_SLOT(Entity);
  virtual std::int32_t& F1() = 0;
  virtual String& S1() = 0;
  virtual String& S2() = 0;
  virtual String& S3() = 0;
  virtual std::int32_t& F5() = 0;
};
struct DeviceState {
  DESTRUCTOR_SLOT(DeviceState);
  virtual std::uint8_t& Ready() = 0;
  virtual std::uint8_t& B2() = 0;
  virtual std::uint8_t& B3() = 0;
  virtual Time& TimeField() = 0;
  virtual std::uint8_t& B5() = 0;
  virtual std::uint8_t& B6() = 0;
  virtual std::uint8_t& B7() = 0;
  virtual std::uint8_t& B8() = 0;
  virtual std::uint8_t& B9() = 0;
  virtual Vector<std::uint8_t>& Bytes() = 0;
  virtual Vector<Entity>& Entities() = 0;
};
struct Condition {
  DESTRUCTOR_SLOT(Condition);
  virtual const std::int32_t* First() const = 0;
  virtual const std::int32_t* Second() const = 0;
};
struct Lab {
  DESTRUCTOR_SLOT(Lab);
  virtual const Condition* GetCondition() const = 0;
  virtual const float* L() const = 0;
  virtual const float* A() const = 0;
  virtual const float* B() const = 0;
  virtual void Set(float, float, float) = 0;
  virtual void SetCondition(std::int32_t, std::int32_t) = 0;
};
struct ChannelType {
  DESTRUCTOR_SLOT(ChannelType);
  virtual std::uint16_t& Kind() = 0;
  virtual std::uint16_t& Variant() = 0;
};
struct SpectrumDescription {
  DESTRUCTOR_SLOT(SpectrumDescription);
  virtual std::int32_t& F1() = 0;
  virtual std::int32_t& F2() = 0;
};
struct Spectrum {
  DESTRUCTOR_SLOT(Spectrum);
  virtual SpectrumDescription& Description() = 0;
  virtual Vector<float>& Values() = 0;
};
struct SpectralData {
  DESTRUCTOR_SLOT(SpectralData);
  virtual ChannelType& Type() = 0;
  virtual Spectrum& SpectrumField() = 0;
  virtual Lab& LabField() = 0;
};
struct SpectralContent {
  DESTRUCTOR_SLOT(SpectralContent);
  virtual String& Geometry() = 0;
  virtual Vector<SpectralData>& Contents() = 0;
};
struct ExrDescription {
  DESTRUCTOR_SLOT(ExrDescription);
  virtual Vector<std::uint8_t>& Header() = 0;
};
struct Exr {
  DESTRUCTOR_SLOT(Exr);
  virtual ExrDescription& Description() = 0;
  virtual Vector<std::uint8_t>& Data() = 0;
};
struct TextureDescription {
  DESTRUCTOR_SLOT(TextureDescription);
  virtual String& Name() = 0;
};
struct Texture {
  DESTRUCTOR_SLOT(Texture);
  virtual TextureDescription& Description() = 0;
  virtual std::int32_t& V0() = 0;
  virtual std::int32_t& V1() = 0;
  virtual std::int32_t& V2() = 0;
  virtual std::int32_t& V3() = 0;
  virtual std::int32_t& V4() = 0;
  virtual std::int32_t& V5() = 0;
  virtual std::int32_t& V6() = 0;
  virtual std::int32_t& V7() = 0;
  virtual std::int32_t& V8() = 0;
  virtual std::int32_t& V9() = 0;
  virtual std::int32_t& V10() = 0;
};
struct QcParameter {
  DESTRUCTOR_SLOT(QcParameter);
  virtual String& S1() = 0;
  virtual String& S2() = 0;
  virtual std::int32_t& F3() = 0;
};
struct ImageData {
  DESTRUCTOR_SLOT(ImageData);
  virtual std::int32_t& F1() = 0;
  virtual Exr& ExrField() = 0;
  virtual Texture& TextureField() = 0;
  virtual Vector<QcParameter>& Parameters() = 0;
};
struct ImageContent {
  DESTRUCTOR_SLOT(ImageContent);
  virtual String& Geometry() = 0;
  virtual Vector<ImageData>& Contents() = 0;
};
struct Log {
  virtual void Message(const char*) = 0;
  virtual void Error(const char*) = 0;
  virtual void Warning(const char*) = 0;
};
struct Device {
  virtual std::int32_t SetLogger(void*) = 0;
  virtual std::int32_t ConnectUsb(std::int32_t) = 0;
  virtual std::int32_t ConnectNetwork(const std::uint8_t*) = 0;
  virtual std::int32_t GetState(DeviceState&) = 0;
  virtual std::int32_t DoJob(String&) = 0;
  virtual std::int32_t GetSample(String&, std::int32_t, Vector<String>&, Vector<String>&,
                                 Vector<std::int32_t>&, Vector<ChannelType>&, std::int32_t,
                                 std::int32_t, Sample&, Vector<ImageContent>&,
                                 Vector<SpectralContent>&) = 0;
  virtual std::int32_t Cancel() = 0;
  virtual std::int32_t GetJobs(Vector<JobInfo>&) = 0;
  virtual std::int32_t AddJob(JobDescription&) = 0;
  virtual std::int32_t DeleteJob(String&) = 0;
  virtual std::int32_t GetLog(Vector<std::uint8_t>&) = 0;
  virtual std::int32_t SendUserMessage(String32&) = 0;
  virtual std::int32_t CorrectExrImage(Vector<std::uint8_t>&, Vector<std::uint8_t>&,
                                       Vector<float>&) = 0;
};

// The second family's module interface as the self-test calls it.
struct QuarnView {
  // Slot n answers n; slot 2 takes two integers, slot 21 six pointers.
  virtual std::int32_t S1() = 0;
  virtual std::int32_t S2(std::int32_t, std::int32_t) = 0;
  virtual std::int32_t S3() = 0;
  virtual std::int32_t S4() = 0;
  virtual std::int32_t S5() = 0;
  virtual std::int32_t S6() = 0;
  virtual std::int32_t S7() = 0;
  virtual std::int32_t S8() = 0;
  virtual std::int32_t S9() = 0;
  virtual std::int32_t S10() = 0;
  virtual std::int32_t S11() = 0;
  virtual std::int32_t S12() = 0;
  virtual std::int32_t S13() = 0;
  virtual std::int32_t S14() = 0;
  virtual std::int32_t S15() = 0;
  virtual std::int32_t S16() = 0;
  virtual std::int32_t S17() = 0;
  virtual std::int32_t S18() = 0;
  virtual std::int32_t S19() = 0;
  virtual std::int32_t S20() = 0;
  virtual std::int32_t S21(char*, char*, char*, char*, char (*)[200], std::uint8_t*) = 0;
  virtual std::int32_t S22() = 0;
  virtual std::int32_t S23() = 0;
  virtual std::int32_t S24() = 0;
  virtual std::int32_t S25() = 0;
  virtual std::int32_t S26() = 0;
  virtual std::int32_t S27() = 0;
  virtual std::int32_t S28() = 0;
};

// --- Module code: reaches the objects through the slot tables above only. ---

[[gnu::noinline]] void FillJobList(void* out) {
  auto& jobs = *static_cast<Vector<JobInfo>*>(out);
  jobs.Resize(2);
  for (std::uint32_t i = 0; i < jobs.Count(); ++i) {
    JobInfo& job = jobs.At(i);
    job.Description().Identifier().Set(i == 0 ? "first" : "second");
    job.Description().SampleCount() = static_cast<std::int32_t>(10 + i);
    job.Description().PlannedCount() = 99;
    job.Description().Tags().Resize(1);
    job.Description().Tags().At(0).Value().Set("tag value");
    job.Description().DisplayTags().Resize(1);
    job.Description().DisplayTags().At(0).Value().Set(U"shown");
    job.Mode().StateCode() = 2004;
    job.Mode().Mode().Set("mode");
    job.Samples().Resize(1);
    job.Samples().At(0).Float3() = 3.5f;
    job.Samples().At(0).AccelerationField().F5() = 55;
    job.Samples().At(0).Byte4() = 4;
    job.Extra().Resize(3);
    job.Extra().At(2) = 0xEE;
  }
}

[[gnu::noinline]] std::string DescribeJob(void* in) {
  auto& job = *static_cast<JobDescription*>(in);
  std::ostringstream out;
  out << job.Identifier().Chars() << '/' << job.Identifier().Length() << '/' << job.Version() << '/'
      << job.SampleCount() << '/' << job.PlannedCount() << '/' << job.Reference().Chars() << '/'
      << job.Tags().Count() << ':' << job.Tags().At(0).Name().Chars() << '/'
      << job.DisplayTags().Count() << ':' << job.DisplayTags().At(1).Value().Length();
  return out.str();
}

[[gnu::noinline]] void FillState(void* out) {
  auto& state = *static_cast<DeviceState*>(out);
  state.Ready() = 2;
  state.TimeField().F6() = 59;
  state.B9() = 9;
  state.Bytes().Resize(2);
  state.Bytes().At(1) = 7;
  state.Entities().Resize(1);
  state.Entities().At(0).S3().Set("ok");
  state.Entities().At(0).F5() = 5;
}

[[gnu::noinline]] void FillContents(void* spectraOut, void* imagesOut) {
  auto& spectra = *static_cast<Vector<SpectralContent>*>(spectraOut);
  spectra.Resize(1);
  spectra.At(0).Geometry().Set("r45as25");
  spectra.At(0).Contents().Resize(2);
  SpectralData& spectral = spectra.At(0).Contents().At(0);
  spectral.Type().Kind() = 0;
  spectral.SpectrumField().Description().F2() = 10;
  spectral.SpectrumField().Values().Resize(31);
  spectral.SpectrumField().Values().At(30) = 0.75f;
  SpectralData& colour = spectra.At(0).Contents().At(1);
  colour.Type().Kind() = 3;
  colour.Type().Variant() = 1;
  colour.LabField().Set(61.0f, -4.5f, 12.25f);
  colour.LabField().SetCondition(65, 10);

  auto& images = *static_cast<Vector<ImageContent>*>(imagesOut);
  images.Resize(1);
  images.At(0).Geometry().Set("r15as80");
  images.At(0).Contents().Resize(1);
  ImageData& image = images.At(0).Contents().At(0);
  image.ExrField().Data().Resize(2);
  image.ExrField().Data().At(0) = 0x76;
  image.ExrField().Description().Header().Resize(1);
  image.TextureField().V10() = 10;
  image.TextureField().Description().Name().Set("sparkle");
  image.Parameters().Resize(1);
  image.Parameters().At(0).F3() = 3;
}

[[gnu::noinline]] float ReadLab(const void* in, std::int32_t* illuminant) {
  const auto& lab = *static_cast<const Lab*>(in);
  *illuminant = *lab.GetCondition()->First();
  return *lab.L() * 10000.0f + *lab.A() * 100.0f + *lab.B();
}

// What a driver compiled against the module's declarations would pass.
struct DeviceArgs {
  void* job;
  void* text;
  void* bytes;
  void* floats;
  void* jobs;
  void* description;
  void* state;
  void* channels;
  void* imageTypes;
  void* spectralTypes;
  void* info;
  void* images;
  void* spectra;
};

template <typename T>
T& As(void* p) {
  return *static_cast<T*>(p);
}

[[gnu::noinline]] void CallEveryDeviceSlot(void* module, const DeviceArgs& a) {
  auto& device = As<Device>(module);
  const std::uint8_t address[4] = {10, 0, 0, 1};
  device.SetLogger(nullptr);
  device.ConnectUsb(0);
  device.ConnectNetwork(address);
  device.GetState(As<DeviceState>(a.state));
  device.DoJob(As<String>(a.job));
  device.GetSample(As<String>(a.job), 0, As<Vector<String>>(a.channels),
                   As<Vector<String>>(a.channels), As<Vector<std::int32_t>>(a.imageTypes),
                   As<Vector<ChannelType>>(a.spectralTypes), 5, 1, As<Sample>(a.info),
                   As<Vector<ImageContent>>(a.images), As<Vector<SpectralContent>>(a.spectra));
  device.Cancel();
  device.GetJobs(As<Vector<JobInfo>>(a.jobs));
  device.AddJob(As<JobDescription>(a.description));
  device.DeleteJob(As<String>(a.job));
  device.GetLog(As<Vector<std::uint8_t>>(a.bytes));
  device.SendUserMessage(As<String32>(a.text));
  device.CorrectExrImage(As<Vector<std::uint8_t>>(a.bytes), As<Vector<std::uint8_t>>(a.bytes),
                         As<Vector<float>>(a.floats));
}

[[gnu::noinline]] std::int32_t* FirstModeInfoSlot(void* info) {
  return &As<ModeInfo>(info).StateCode();
}

[[gnu::noinline]] std::int32_t ThirdModeInfoSlot(void* info) { return As<ModeInfo>(info).F3(); }

[[gnu::noinline]] QuarnView& ViewOf(void* module) { return *static_cast<QuarnView*>(module); }

[[gnu::noinline]] void Report(void* sink) {
  auto& log = *static_cast<Log*>(sink);
  log.Message("m");
  log.Error("e");
  log.Warning("w");
}

}  // namespace module_view

namespace {

using namespace Vexil::Device_Cpp;

TEST(SlotOrder, ModuleFillsJobListThroughSlots) {
  JobInfoVector jobs;
  module_view::FillJobList(&jobs);
  ASSERT_EQ(jobs.Items().size(), 2u);
  const IJobInfo& second = jobs.Items()[1];
  EXPECT_EQ(second.description().identifier().Text(), "second");
  EXPECT_EQ(second.description().sampleCount(), 11);
  EXPECT_EQ(second.description().plannedSampleCount(), 99);
  EXPECT_EQ(second.description().tags().Items().at(0).value().Text(), "tag value");
  EXPECT_EQ(second.description().displayTags().Items().at(0).value().Text(), U"shown");
  EXPECT_EQ(second.modeInfo().stateCode(), 2004);
  EXPECT_EQ(second.modeInfo().modeName().Text(), "mode");
  EXPECT_EQ(second.samples().Items().at(0).supplyVoltage(), 3.5f);
  EXPECT_EQ(second.samples().Items().at(0).acceleration().eventCount(), 55);
  EXPECT_EQ(second.samples().Items().at(0).flags(), 4);
  EXPECT_EQ(second.extraData().Items(), (std::vector<std::uint8_t>{0, 0, 0xEE}));
}

TEST(SlotOrder, ModuleReadsJobDescriptionThroughSlots) {
  IJobDescription job;
  job.identifier().Set("J");
  job.sampleCount() = 4;
  job.plannedSampleCount() = 4;
  job.referenceName().Set("NONE");
  job.tags().Items() = {Tag(IString("Make"), IString("")), Tag(IString("MakeId"), IString(""))};
  job.displayTags().Items() = {Tag32(IString("DisplayName"), IString32(U"J")),
                               Tag32(IString("DisplayMake"), IString32(U"abc"))};
  EXPECT_EQ(module_view::DescribeJob(&job), "J/1/0/4/4/NONE/2:Make/2:3");
}

TEST(SlotOrder, ModuleFillsStateAndContentsThroughSlots) {
  State state;
  module_view::FillState(&state);
  EXPECT_EQ(state.deviceState(), 2);
  EXPECT_EQ(state.time().second(), 59);
  EXPECT_EQ(state.lidState(), 9);
  EXPECT_EQ(state.statusData().Items(), (std::vector<std::uint8_t>{0, 7}));
  EXPECT_EQ(state.entities().Items().at(0).status().Text(), "ok");
  EXPECT_EQ(state.entities().Items().at(0).statusCode(), 5);

  SpectrumContentVector spectra;
  ImageContentVector images;
  module_view::FillContents(&spectra, &images);
  ASSERT_EQ(spectra.Items().size(), 1u);
  const SpectrumContent& content = spectra.Items()[0];
  EXPECT_EQ(content.geometry().Text(), "r45as25");
  ASSERT_EQ(content.contents().Items().size(), 2u);
  const SpectralContentData& spectral = content.contents().Items()[0];
  EXPECT_EQ(spectral.spectrum().description().wavelengthStep(), 10);
  ASSERT_EQ(spectral.spectrum().values().Items().size(), 31u);
  EXPECT_EQ(spectral.spectrum().values().Items()[30], 0.75f);
  const SpectralContentData& colour = content.contents().Items()[1];
  EXPECT_EQ(colour.channelType().contentKind(), 3);
  EXPECT_EQ(colour.channelType().variant(), 1);
  EXPECT_EQ(*colour.lab().GetL(), 61.0f);
  EXPECT_EQ(*colour.lab().GetA(), -4.5f);
  EXPECT_EQ(*colour.lab().GetB(), 12.25f);
  EXPECT_EQ(*colour.lab().GetCondition()->GetObserver(), 10);

  ASSERT_EQ(images.Items().size(), 1u);
  EXPECT_EQ(images.Items()[0].geometry().Text(), "r15as80");
  const ImageContentData& image = images.Items()[0].contents().Items().at(0);
  EXPECT_EQ(image.exr().data().Items(), (std::vector<std::uint8_t>{0x76, 0}));
  EXPECT_EQ(image.exr().description().header().Items().size(), 1u);
  EXPECT_EQ(image.texture().value10(), 10);
  EXPECT_EQ(image.texture().description().name().Text(), "sparkle");
  EXPECT_EQ(image.qcParameters().Items().at(0).flags(), 3);
}

TEST(SlotOrder, ModuleReadsLabAndModeInfoStartsWithStateCode) {
  Lab lab(1.0f, 2.0f, 3.0f);
  lab.SetCondition(50, 2);
  std::int32_t illuminant = 0;
  EXPECT_EQ(module_view::ReadLab(&lab, &illuminant), 10203.0f);
  EXPECT_EQ(illuminant, 50);

  MeasurementModeInfo info;
  info.stateCode() = 2000;
  info.measuredSamples() = 8;
  EXPECT_EQ(module_view::FirstModeInfoSlot(&info), &info.stateCode());
  EXPECT_EQ(module_view::ThirdModeInfoSlot(&info), 8);
}

TEST(SlotOrder, LogSinkAndDeviceInterfaceSlots) {
  std::ostringstream captured;
  std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
  VantorelLogger logger;
  module_view::Report(static_cast<LogInterface*>(&logger));
  std::cout.rdbuf(old);
  EXPECT_EQ(captured.str(), "m\nError: e\nWarning: w\n");

  Fakes::FakeDevice fake;
  IString job("J");
  IString32 text(U"hi");
  IUintVector8 bytes;
  IFloatVector floats;
  JobInfoVector jobs;
  IJobDescription description;
  State state;
  IStringVector channels;
  ImageChannelContentTypeVector imageTypes;
  SpectralChannelContentTypeVector spectralTypes;
  SampleInfo info;
  ImageContentVector images;
  SpectrumContentVector spectra;
  module_view::CallEveryDeviceSlot(
      static_cast<DeviceInterface*>(&fake),
      {&job, &text, &bytes, &floats, &jobs, &description, &state, &channels, &imageTypes,
       &spectralTypes, &info, &images, &spectra});
  EXPECT_THAT(fake.CallNames(),
              testing::ElementsAre("SetLogger", "ConnectUsb", "ConnectNetwork", "GetState", "DoJob",
                                   "GetSample", "Cancel", "GetJobs", "AddJob", "DeleteJob",
                                   "GetLog", "SendUserMessage", "CorrectExrImage"));
}

// A second-family module as the self-test meets it: every slot answers its
// own number.
class NumberedQuarn final : public QuarnInterface {
 public:
#define VANTOREL_SLOT(n) \
  std::int32_t Reserved##n() override { return 1##n - 100; }
  VANTOREL_SLOT(01)
  VANTOREL_SLOT(03)
  VANTOREL_SLOT(04)
  VANTOREL_SLOT(05)
  VANTOREL_SLOT(06)
  VANTOREL_SLOT(07)
  VANTOREL_SLOT(08)
  VANTOREL_SLOT(09)
  VANTOREL_SLOT(10)
  VANTOREL_SLOT(11)
  VANTOREL_SLOT(12)
  VANTOREL_SLOT(13)
  VANTOREL_SLOT(14)
  VANTOREL_SLOT(15)
  VANTOREL_SLOT(16)
  VANTOREL_SLOT(17)
  VANTOREL_SLOT(18)
  VANTOREL_SLOT(19)
  VANTOREL_SLOT(20)
  VANTOREL_SLOT(22)
  VANTOREL_SLOT(23)
  VANTOREL_SLOT(24)
  VANTOREL_SLOT(25)
  VANTOREL_SLOT(26)
  VANTOREL_SLOT(27)
  VANTOREL_SLOT(28)
#undef VANTOREL_SLOT
  std::int32_t Open(std::int32_t a, std::int32_t b) override { return 2 + a + b; }
  std::int32_t GetDeviceInfo(char* serial, char*, char*, char*, char (*angles)[kQuarnTextSize],
                             std::uint8_t* count) override {
    std::strcpy(serial, "S-1");
    std::strcpy(angles[1], "45as15");
    *count = 2;
    return 21;
  }
};

TEST(SlotOrder, QuarnInterfaceHasSlotTwoAndTwentyOneWhereTheSelfTestCallsThem) {
  NumberedQuarn module;
  NumberedQuarn copy(module);  // the exported special members link
  module_view::QuarnView& view = module_view::ViewOf(static_cast<QuarnInterface*>(&copy));
  EXPECT_EQ(view.S1(), 1);
  EXPECT_EQ(view.S2(0, 0), 2);
  EXPECT_EQ(view.S20(), 20);
  char serial[kQuarnTextSize] = {};
  char other[3][kQuarnTextSize] = {};
  char angles[kQuarnMaxAngles][kQuarnTextSize] = {};
  std::uint8_t count = 0;
  EXPECT_EQ(view.S21(serial, other[0], other[1], other[2], angles, &count), 21);
  EXPECT_STREQ(serial, "S-1");
  EXPECT_STREQ(angles[1], "45as15");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(view.S22(), 22);
  EXPECT_EQ(view.S28(), 28);
}

#if VEXIL_EMULATED_DESTRUCTOR_SLOT
// Under mingw-w64 slot 0 stands in for the platform's scalar deleting
// destructor: a module that calls it destroys the object, and frees it only
// when bit 0 of the flags is set.
struct Counted {
  static inline int destroyed = 0;
  ~Counted() { ++destroyed; }
};

TEST(SlotOrder, DestructorSlotDestroysAndFreesOnlyWhenAsked) {
  using Counting = DeviceVector<Counted>;
  alignas(Counting) unsigned char storage[sizeof(Counting)];
  Counting* inPlace = new (storage) Counting(std::vector<Counted>(2));
  Counted::destroyed = 0;
  EXPECT_EQ(module_view::As<module_view::Vector<Counted>>(inPlace).DestroySlot(0), inPlace);
  EXPECT_EQ(Counted::destroyed, 2);

  Counting* onHeap = new Counting(std::vector<Counted>(3));
  Counted::destroyed = 0;
  EXPECT_EQ(module_view::As<module_view::Vector<Counted>>(onHeap).DestroySlot(1), onHeap);
  EXPECT_EQ(Counted::destroyed, 3);
}
#endif

#if defined(_WIN32) && defined(__i386__) && !defined(_MSC_VER)
// On 32-bit Windows every boundary operation must be __thiscall, as the
// platform's compiler calls it. mingw-w64 g++ makes it the default for member
// functions and keeps the convention in the member pointer's type.
template <typename R, typename C, typename... A>
constexpr bool IsThiscall(R (__attribute__((thiscall)) C::*)(A...)) {
  return true;
}
template <typename R, typename C, typename... A>
constexpr bool IsThiscall(R (__attribute__((thiscall)) C::*)(A...) const) {
  return true;
}
template <typename F>
constexpr bool IsThiscall(F) {
  return false;
}
static_assert(IsThiscall(&IString::ScalarDeletingDestructor));
static_assert(IsThiscall(&IString::Set) && IsThiscall(&IString32::length));
static_assert(IsThiscall(&IUintVector8::resize) && IsThiscall(&JobInfoVector::at));
static_assert(IsThiscall(&Lab::GetL) && IsThiscall(&Lab::SetLab));
static_assert(IsThiscall(&IIlluminantObserverCondition::GetObserver));
static_assert(IsThiscall(&LogInterface::Warning));
static_assert(IsThiscall(&DeviceInterface::GetSample) &&
              IsThiscall(&DeviceInterface::CorrectExrImage));
static_assert(IsThiscall(&QuarnInterface::GetDeviceInfo));
#endif

}  // namespace
