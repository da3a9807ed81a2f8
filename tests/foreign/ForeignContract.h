// The device contract as an outside module maker declares it: the slot
// tables of the driver's value objects (which the module only calls), the
// driver's log sink, and the two module interfaces the module implements.
//
// Written from docs/modules.md alone, with names of our own: only the order
// of the virtual operations, their arguments and results have to agree with
// the driver's. Compiled by clang for the platform's C++ ABI
// (--target=*-pc-windows-msvc), freestanding: no C or C++ runtime, no system
// header, so every type here is a built-in one. In that ABI a virtual
// destructor takes one vtable slot and member functions are __thiscall on
// 32-bit x86.
//
// Threads: declarations only.
#pragma once

namespace foreign {

using u8 = unsigned char;
using u16 = unsigned short;
using i32 = int;
using u32 = unsigned int;
static_assert(sizeof(u16) == 2 && sizeof(i32) == 4 && sizeof(float) == 4 && sizeof(char32_t) == 4);

// --- Values the driver owns; the module reaches them through these slots. ---

struct Text {
  virtual ~Text() = 0;
  virtual void Set(const char* text) = 0;
  virtual const char* Chars() = 0;
  virtual u32 Length() = 0;
};

struct Text32 {
  virtual ~Text32() = 0;
  virtual void Set(const char32_t* text) = 0;
  virtual const char32_t* Chars() = 0;
  virtual u32 Length() = 0;
};

template <typename T>
struct Vec {
  virtual ~Vec() = 0;
  virtual u32 Count() = 0;
  virtual void Resize(u32 count) = 0;
  virtual T& At(u32 index) = 0;
};

struct NamedText {
  virtual ~NamedText() = 0;
  virtual Text& Name() = 0;
  virtual Text& Value() = 0;
};

struct NamedText32 {
  virtual ~NamedText32() = 0;
  virtual Text& Name() = 0;
  virtual Text32& Value() = 0;
};

struct Time {
  virtual ~Time() = 0;
  virtual u8& Year() = 0;
  virtual u8& Month() = 0;
  virtual u8& Day() = 0;
  virtual u8& Hour() = 0;
  virtual u8& Minute() = 0;
  virtual u8& Second() = 0;
};

struct Motion {
  virtual ~Motion() = 0;
  virtual i32& X() = 0;
  virtual i32& Y() = 0;
  virtual i32& Z() = 0;
  virtual i32& Peak() = 0;
  virtual i32& Events() = 0;
};

struct SampleRecord {
  virtual ~SampleRecord() = 0;
  virtual i32& Index() = 0;
  virtual Time& When() = 0;
  virtual float& Temperature() = 0;
  virtual float& Humidity() = 0;
  virtual float& Voltage() = 0;
  virtual Motion& Movement() = 0;
  virtual u8& Mode() = 0;
  virtual u8& Quality() = 0;
  virtual u8& Repeats() = 0;
  virtual u8& Flags() = 0;
};

struct JobDefinition {
  virtual ~JobDefinition() = 0;
  virtual i32& Version() = 0;
  virtual Text& Identifier() = 0;
  virtual Vec<NamedText>& Tags() = 0;
  virtual Vec<NamedText32>& DisplayTags() = 0;
  virtual i32& SampleCount() = 0;
  virtual Text& Comment() = 0;
  virtual Text& Reference() = 0;
  virtual i32& PlannedCount() = 0;
};

// The one value class without a destructor slot.
struct JobMode {
  virtual i32& StateCode() = 0;
  virtual Text& ModeName() = 0;
  virtual i32& Measured() = 0;
  virtual i32& ModeFlags() = 0;
};

struct JobEntry {
  virtual ~JobEntry() = 0;
  virtual JobDefinition& Definition() = 0;
  virtual Vec<SampleRecord>& Samples() = 0;
  virtual JobMode& Mode() = 0;
  virtual Vec<u8>& Extra() = 0;
};

struct Component {
  virtual ~Component() = 0;
  virtual i32& Id() = 0;
  virtual Text& Name() = 0;
  virtual Text& Kind() = 0;
  virtual Text& Status() = 0;
  virtual i32& StatusCode() = 0;
};

struct InstrumentState {
  virtual ~InstrumentState() = 0;
  virtual u8& Ready() = 0;
  virtual u8& Link() = 0;
  virtual u8& Battery() = 0;
  virtual Time& Clock() = 0;
  virtual u8& LastError() = 0;
  virtual u8& Calibration() = 0;
  virtual u8& Storage() = 0;
  virtual u8& Power() = 0;
  virtual u8& Lid() = 0;
  virtual Vec<u8>& StatusBytes() = 0;
  virtual Vec<Component>& Components() = 0;
};

struct ImageHeader {
  virtual ~ImageHeader() = 0;
  virtual Vec<u8>& Bytes() = 0;
};

struct ImageFile {
  virtual ~ImageFile() = 0;
  virtual ImageHeader& Header() = 0;
  virtual Vec<u8>& Bytes() = 0;
};

struct TextureName {
  virtual ~TextureName() = 0;
  virtual Text& Name() = 0;
};

struct TextureValues {
  virtual ~TextureValues() = 0;
  virtual TextureName& Description() = 0;
  virtual i32& V0() = 0;
  virtual i32& V1() = 0;
  virtual i32& V2() = 0;
  virtual i32& V3() = 0;
  virtual i32& V4() = 0;
  virtual i32& V5() = 0;
  virtual i32& V6() = 0;
  virtual i32& V7() = 0;
  virtual i32& V8() = 0;
  virtual i32& V9() = 0;
  virtual i32& V10() = 0;
};

struct QcValue {
  virtual ~QcValue() = 0;
  virtual Text& Name() = 0;
  virtual Text& Value() = 0;
  virtual i32& Flags() = 0;
};

struct ImageItem {
  virtual ~ImageItem() = 0;
  virtual i32& ChannelType() = 0;
  virtual ImageFile& File() = 0;
  virtual TextureValues& Texture() = 0;
  virtual Vec<QcValue>& Qc() = 0;
};

struct ImageGeometry {
  virtual ~ImageGeometry() = 0;
  virtual Text& Geometry() = 0;
  virtual Vec<ImageItem>& Items() = 0;
};

struct WavelengthRange {
  virtual ~WavelengthRange() = 0;
  virtual i32& First() = 0;
  virtual i32& Step() = 0;
};

struct SpectrumValues {
  virtual ~SpectrumValues() = 0;
  virtual WavelengthRange& Range() = 0;
  virtual Vec<float>& Values() = 0;
};

struct ContentKind {
  virtual ~ContentKind() = 0;
  virtual u16& Kind() = 0;
  virtual u16& Variant() = 0;
};

struct Condition {
  virtual ~Condition() = 0;
  virtual const i32* Illuminant() const = 0;
  virtual const i32* Observer() const = 0;
};

struct Colour {
  virtual ~Colour() = 0;
  virtual const Condition* GetCondition() const = 0;
  virtual const float* L() const = 0;
  virtual const float* A() const = 0;
  virtual const float* B() const = 0;
  virtual void Set(float l, float a, float b) = 0;
  virtual void SetCondition(i32 illuminant, i32 observer) = 0;
};

struct SpectralItem {
  virtual ~SpectralItem() = 0;
  virtual ContentKind& Kind() = 0;
  virtual SpectrumValues& Spectrum() = 0;
  virtual Colour& Lab() = 0;
};

struct SpectralGeometry {
  virtual ~SpectralGeometry() = 0;
  virtual Text& Geometry() = 0;
  virtual Vec<SpectralItem>& Items() = 0;
};

// The driver's log sink: no destructor slot.
struct LogSink {
  virtual void Message(const char* text) = 0;
  virtual void Error(const char* text) = 0;
  virtual void Warning(const char* text) = 0;
};

// --- What the module implements. ---

class Device {
 public:
  virtual i32 SetLogger(LogSink* sink) = 0;
  virtual i32 ConnectUsb(i32 port) = 0;
  virtual i32 ConnectNetwork(const u8* address4) = 0;
  virtual i32 GetState(InstrumentState& state) = 0;
  virtual i32 DoJob(Text& job) = 0;
  virtual i32 GetSample(Text& job, i32 sampleIndex, Vec<Text>& imageChannels,
                        Vec<Text>& spectralChannels, Vec<i32>& imageTypes,
                        Vec<ContentKind>& spectralTypes, i32 option1, i32 option2,
                        SampleRecord& info, Vec<ImageGeometry>& images,
                        Vec<SpectralGeometry>& spectra) = 0;
  virtual i32 Cancel() = 0;
  virtual i32 GetJobs(Vec<JobEntry>& jobs) = 0;
  virtual i32 AddJob(JobDefinition& job) = 0;
  virtual i32 DeleteJob(Text& job) = 0;
  virtual i32 GetLog(Vec<u8>& log) = 0;
  virtual i32 SendUserMessage(Text32& text) = 0;
  virtual i32 CorrectExrImage(Vec<u8>& in, Vec<u8>& out, Vec<float>& spectral) = 0;

 protected:
  ~Device() = default;
};

// The second family's interface: 28 operations, the self-test calls the
// second and the twenty-first.
class SecondFamily {
 public:
  virtual i32 Slot01() = 0;
  virtual i32 Open(i32 port, i32 options) = 0;
  virtual i32 Slot03() = 0;
  virtual i32 Slot04() = 0;
  virtual i32 Slot05() = 0;
  virtual i32 Slot06() = 0;
  virtual i32 Slot07() = 0;
  virtual i32 Slot08() = 0;
  virtual i32 Slot09() = 0;
  virtual i32 Slot10() = 0;
  virtual i32 Slot11() = 0;
  virtual i32 Slot12() = 0;
  virtual i32 Slot13() = 0;
  virtual i32 Slot14() = 0;
  virtual i32 Slot15() = 0;
  virtual i32 Slot16() = 0;
  virtual i32 Slot17() = 0;
  virtual i32 Slot18() = 0;
  virtual i32 Slot19() = 0;
  virtual i32 Slot20() = 0;
  virtual i32 GetDeviceInfo(char* serial, char* whiteTile, char* calibrationDate,
                            char* instrumentType, char (*angles)[200], u8* angleCount) = 0;
  virtual i32 Slot22() = 0;
  virtual i32 Slot23() = 0;
  virtual i32 Slot24() = 0;
  virtual i32 Slot25() = 0;
  virtual i32 Slot26() = 0;
  virtual i32 Slot27() = 0;
  virtual i32 Slot28() = 0;

 protected:
  ~SecondFamily() = default;
};

}  // namespace foreign

#define FOREIGN_EXPORT extern "C" __declspec(dllexport)
