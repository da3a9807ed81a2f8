// A device module as an instrument maker would build it with the platform's
// own compiler: written against ForeignContract.h alone, freestanding, and
// reaching the driver's values through their slots only. It implements all
// thirteen operations with small but complete contents, the values of
// ForeignValues.h:
//
// - jobs (at most kMaxJobs) with identifier, make, display name and sample
//   count; DoJob measures in the background in the sense that the first
//   job list or state read after it still sees the job measuring (2000) and
//   the next one sees it measured (2004);
// - per measured sample: every field of the sample record, eleven spectral
//   geometries (31 values, then L*a*b* with its condition, which the module
//   reads back through the colour's getters), two image geometries with an
//   EXR file, its header bytes, texture values and a QC parameter;
// - the instrument state with every field; a log (GetLog) that records every
//   operation, user messages included; reports to the driver's sink;
// - CorrectExrImage, which scales R, G and B by the mean of the 31 values.
//
// Every operation checks what the driver passes (the fixed sample request,
// counts and sizes) and answers a code of ForeignValues.h otherwise.
//
// Threads: the driver calls ConnectUsb/ConnectNetwork on a worker thread and
// everything else from its request thread, one call at a time. A connect
// here returns at once (it sets the link and logs a line) and the driver
// waits for it before the next request, so nothing needs a lock.
#include "foreign/ForeignContract.h"
#include "foreign/ForeignExr.h"
#include "foreign/ForeignText.h"
#include "foreign/ForeignValues.h"

namespace foreign {
namespace {

namespace fv = foreign_values;

constexpr u32 kLogCapacity = 8192;
constexpr u32 kImageCapacity = 1024;
constexpr u32 kCorrectionCapacity = 4096;

struct Job {
  char identifier[fv::kMaxIdentifierBytes + 1] = {};
  char32_t displayName[fv::kMaxDisplayCodePoints + 1] = {};
  char32_t displayMake[fv::kMaxDisplayCodePoints + 1] = {};
  i32 samples = 0;
  i32 state = fv::kStored;
  i32 measured = 0;
  bool used = false;
};

// Copies the terminated UTF-32 text of `tag` into `out`; false if too long.
bool CopyText32(Text32& text, char32_t* out) {
  const u32 n = text.Length();
  if (n > fv::kMaxDisplayCodePoints) return false;
  const char32_t* chars = text.Chars();
  for (u32 i = 0; i < n; ++i) out[i] = chars[i];
  out[n] = 0;
  return true;
}

template <u32 N>
void AddUtf32(Line<N>& line, const char32_t* text) {
  for (; *text != 0; ++text) line.CodePoint(*text);
}

void FillTime(Time& time, u8 hour, u8 minute) {
  time.Year() = 24;
  time.Month() = 5;
  time.Day() = 17;
  time.Hour() = hour;
  time.Minute() = minute;
  time.Second() = 15;
}

void FillSampleRecord(SampleRecord& record, i32 sample) {
  record.Index() = sample;
  FillTime(record.When(), 9, static_cast<u8>(30 + sample));
  record.Temperature() = 21.5f;
  record.Humidity() = 40.25f;
  record.Voltage() = 5.125f;
  Motion& motion = record.Movement();
  motion.X() = 1;
  motion.Y() = -2;
  motion.Z() = 3;
  motion.Peak() = 40 + sample;
  motion.Events() = sample;
  record.Mode() = 1;
  record.Quality() = 99;
  record.Repeats() = 3;
  record.Flags() = 0x81;
}

bool IsAll(Vec<Text>& channels) {
  return channels.Count() == 1 && Equal(channels.At(0).Chars(), "ALL");
}

class ForeignDevice final : public Device {
 public:
  i32 SetLogger(LogSink* sink) override {
    sink_ = sink;
    Report(0, fv::kReadyMessage);
    return 0;
  }

  i32 ConnectUsb(i32 port) override {
    link_ = 1;
    Line<64> line;
    Log(line.Add("connected over USB, port ").Number(port).Chars());
    return 0;
  }

  i32 ConnectNetwork(const u8* address4) override {
    if (address4 == nullptr ||
        (address4[0] == 0 && address4[1] == 0 && address4[2] == 0 && address4[3] == 0)) {
      link_ = 0;
      Report(2, fv::kRefusedError);
      Log(fv::kRefusedError);
      return fv::kAddressRefused;
    }
    link_ = 2;
    Line<64> line;
    line.Add("connected over the network to ");
    for (int i = 0; i < 4; ++i) {
      if (i > 0) line.Add(".");
      line.Number(address4[i]);
    }
    Log(line.Chars());
    return 0;
  }

  i32 GetState(InstrumentState& state) override {
    Advance();
    state.Ready() = link_ == 0 ? 0 : Measuring() != nullptr ? 1 : 2;
    state.Link() = static_cast<u8>(link_);
    state.Battery() = 87;
    FillTime(state.Clock(), 10, 0);
    state.LastError() = 0;
    state.Calibration() = 1;
    state.Storage() = static_cast<u8>(JobCount());
    state.Power() = 1;
    state.Lid() = 0;
    Vec<u8>& bytes = state.StatusBytes();
    bytes.Resize(3);
    if (bytes.Count() == 3) {
      bytes.At(0) = 'F';
      bytes.At(1) = 'S';
      bytes.At(2) = state.Ready();
    }
    const char* const names[2] = {"lamp", "sensor"};
    const char* const kinds[2] = {"light", "camera"};
    Vec<Component>& components = state.Components();
    components.Resize(2);
    for (u32 i = 0; i < components.Count() && i < 2; ++i) {
      Component& c = components.At(i);
      c.Id() = static_cast<i32>(i + 1);
      c.Name().Set(names[i]);
      c.Kind().Set(kinds[i]);
      c.Status().Set("ok");
      c.StatusCode() = static_cast<i32>(i);
    }
    return 0;
  }

  i32 DoJob(Text& name) override {
    if (link_ == 0) return fv::kNotConnected;
    Job* job = Find(name.Chars());
    if (job == nullptr) return fv::kUnknownJob;
    if (Measuring() != nullptr) return fv::kBusy;
    job->state = fv::kMeasuring;
    job->measured = 0;
    pollsUntilMeasured_ = 1;
    Line<128> line;
    Log(line.Add("measuring job ").Add(job->identifier).Chars());
    return 0;
  }

  i32 GetSample(Text& name, i32 sampleIndex, Vec<Text>& imageChannels, Vec<Text>& spectralChannels,
                Vec<i32>& imageTypes, Vec<ContentKind>& spectralTypes, i32 option1, i32 option2,
                SampleRecord& info, Vec<ImageGeometry>& images,
                Vec<SpectralGeometry>& spectra) override {
    if (link_ == 0) return fv::kNotConnected;
    if (!IsAll(imageChannels) || !IsAll(spectralChannels) || imageTypes.Count() != 1 ||
        imageTypes.At(0) != 0 || spectralTypes.Count() != 2 || spectralTypes.At(0).Kind() != 0 ||
        spectralTypes.At(0).Variant() != 0 || spectralTypes.At(1).Kind() != 3 ||
        spectralTypes.At(1).Variant() != 0 || option1 != 5 || option2 != 1) {
      return fv::kUnexpectedRequest;
    }
    const Job* job = Find(name.Chars());
    if (job == nullptr) return fv::kUnknownJob;
    if (sampleIndex < 0 || sampleIndex >= job->measured) return fv::kSampleNotMeasured;
    const u32 key = fv::JobKey(job->identifier);

    FillSampleRecord(info, sampleIndex);
    spectra.Resize(fv::kGeometryCount);
    if (spectra.Count() != fv::kGeometryCount) return fv::kUnexpectedRequest;
    for (int g = 0; g < fv::kGeometryCount; ++g) {
      SpectralGeometry& geometry = spectra.At(static_cast<u32>(g));
      geometry.Geometry().Set(fv::kGeometries[g]);
      Vec<SpectralItem>& items = geometry.Items();
      items.Resize(2);
      if (items.Count() != 2) return fv::kUnexpectedRequest;
      SpectralItem& spectral = items.At(0);
      spectral.Kind().Kind() = 0;
      spectral.Kind().Variant() = 0;
      spectral.Spectrum().Range().First() = 400;
      spectral.Spectrum().Range().Step() = 10;
      Vec<float>& values = spectral.Spectrum().Values();
      values.Resize(fv::kSpectralCount);
      if (values.Count() != fv::kSpectralCount) return fv::kUnexpectedRequest;
      for (int i = 0; i < fv::kSpectralCount; ++i) {
        values.At(static_cast<u32>(i)) = fv::Spectral(key, sampleIndex, g, i);
      }
      SpectralItem& colour = items.At(1);
      colour.Kind().Kind() = 3;
      colour.Kind().Variant() = 0;
      const float l = fv::LabValue(key, sampleIndex, g, 0);
      const float a = fv::LabValue(key, sampleIndex, g, 1);
      const float b = fv::LabValue(key, sampleIndex, g, 2);
      Colour& lab = colour.Lab();
      lab.Set(l, a, b);
      lab.SetCondition(fv::kIlluminant, fv::kObserver);
      // Read back what the driver's object keeps: it is what the driver sends.
      const Condition* condition = lab.GetCondition();
      if (*lab.L() != l || *lab.A() != a || *lab.B() != b || condition == nullptr ||
          *condition->Illuminant() != fv::kIlluminant || *condition->Observer() != fv::kObserver) {
        return fv::kLabNotKept;
      }
    }

    images.Resize(fv::kImageCount);
    if (images.Count() != fv::kImageCount) return fv::kUnexpectedRequest;
    for (int k = 0; k < fv::kImageCount; ++k) {
      const int g = fv::kImageGeometries[k];
      ImageGeometry& geometry = images.At(static_cast<u32>(k));
      geometry.Geometry().Set(fv::kGeometries[g]);
      geometry.Items().Resize(1);
      if (geometry.Items().Count() != 1) return fv::kUnexpectedRequest;
      ImageItem& item = geometry.Items().At(0);
      item.ChannelType() = 0;
      const u8 header[4] = {'F', 'X', 'R', static_cast<u8>(k + 1)};
      if (!Store(item.File().Header().Bytes(), header, 4)) return fv::kUnexpectedRequest;
      const u32 size = WriteImage(image_, kImageCapacity, key, sampleIndex, g);
      if (size == 0 || !Store(item.File().Bytes(), image_, size)) return fv::kUnexpectedRequest;
      TextureValues& texture = item.Texture();
      texture.Description().Name().Set(fv::kTextureName);
      i32* const values[11] = {&texture.V0(), &texture.V1(), &texture.V2(), &texture.V3(),
                               &texture.V4(), &texture.V5(), &texture.V6(), &texture.V7(),
                               &texture.V8(), &texture.V9(), &texture.V10()};
      for (int i = 0; i < 11; ++i) *values[i] = 100 + i;
      Vec<QcValue>& qc = item.Qc();
      qc.Resize(1);
      if (qc.Count() != 1) return fv::kUnexpectedRequest;
      qc.At(0).Name().Set("grain");
      qc.At(0).Value().Set("fine");
      qc.At(0).Flags() = 7;
    }
    Line<128> line;
    Log(line.Add("delivered sample ").Number(sampleIndex).Add(" of ").Add(job->identifier).Chars());
    return 0;
  }

  i32 Cancel() override {
    Job* job = Measuring();
    if (job != nullptr) {
      job->state = fv::kStored;
      job->measured = 0;
      Line<128> line;
      Log(line.Add("cancelled job ").Add(job->identifier).Chars());
    }
    return 0;
  }

  i32 GetJobs(Vec<JobEntry>& list) override {
    if (link_ == 0) return fv::kNotConnected;
    Advance();
    const u32 count = JobCount();
    list.Resize(count);
    if (list.Count() != count) return fv::kUnexpectedRequest;
    u32 k = 0;
    for (Job& job : jobs_) {
      if (!job.used) continue;
      JobEntry& entry = list.At(k);
      JobDefinition& d = entry.Definition();
      d.Version() = 0;
      d.Identifier().Set(job.identifier);
      Vec<NamedText>& tags = d.Tags();
      tags.Resize(2);
      if (tags.Count() == 2) {
        Line<fv::kMaxDisplayCodePoints * 4 + 1> make;
        AddUtf32(make, job.displayMake);
        Line<16> key;
        key.Number(static_cast<i32>(fv::JobKey(job.identifier)));
        tags.At(0).Name().Set("Make");
        tags.At(0).Value().Set(make.Chars());
        tags.At(1).Name().Set("MakeId");
        tags.At(1).Value().Set(key.Chars());
      }
      Vec<NamedText32>& display = d.DisplayTags();
      display.Resize(2);
      if (display.Count() == 2) {
        display.At(0).Name().Set("DisplayName");
        display.At(0).Value().Set(job.displayName);
        display.At(1).Name().Set("DisplayMake");
        display.At(1).Value().Set(job.displayMake);
      }
      d.SampleCount() = job.samples;
      d.Comment().Set(fv::kComment);
      d.Reference().Set("NONE");
      d.PlannedCount() = job.samples;

      Vec<SampleRecord>& samples = entry.Samples();
      samples.Resize(static_cast<u32>(job.measured));
      for (u32 s = 0; s < samples.Count() && s < static_cast<u32>(job.measured); ++s) {
        FillSampleRecord(samples.At(s), static_cast<i32>(s));
      }
      JobMode& mode = entry.Mode();
      mode.StateCode() = job.state;
      mode.ModeName().Set(fv::kModeName);
      mode.Measured() = job.measured;
      mode.ModeFlags() = 0x5A;
      const u8 extra[4] = {0xF0, 0x0D, static_cast<u8>(fv::JobKey(job.identifier)),
                           static_cast<u8>(k)};
      Store(entry.Extra(), extra, 4);
      ++k;
    }
    return 0;
  }

  // Reads every field of the description; the log line that records the job
  // names them all.
  i32 AddJob(JobDefinition& d) override {
    if (link_ == 0) return fv::kNotConnected;
    Text& identifier = d.Identifier();
    const u32 length = identifier.Length();
    const char* id = identifier.Chars();
    if (id == nullptr || length == 0 || length > fv::kMaxIdentifierBytes || Length(id) != length) {
      return fv::kInvalidJob;
    }
    const i32 samples = d.SampleCount();
    if (samples < 0 || samples > fv::kMaxSamples || d.PlannedCount() != samples) {
      return fv::kInvalidJob;
    }
    Job incoming;
    CopyText(incoming.identifier, sizeof incoming.identifier, id);
    incoming.samples = samples;
    incoming.used = true;

    Line<1024> line;
    line.Add("added job ").Add(id).Add(" (version ").Number(d.Version());
    line.Add(", ").Number(samples).Add(" samples, planned ").Number(d.PlannedCount());
    line.Add(", tags");
    Vec<NamedText>& tags = d.Tags();
    for (u32 i = 0; i < tags.Count(); ++i) {
      line.Add(i == 0 ? " " : ",").Add(tags.At(i).Name().Chars()).Add("=");
      line.Add(tags.At(i).Value().Chars());
    }
    line.Add(", display");
    Vec<NamedText32>& display = d.DisplayTags();
    for (u32 i = 0; i < display.Count(); ++i) {
      NamedText32& tag = display.At(i);
      line.Add(i == 0 ? " " : ",").Add(tag.Name().Chars()).Add("=");
      char32_t* target = Equal(tag.Name().Chars(), "DisplayName")   ? incoming.displayName
                         : Equal(tag.Name().Chars(), "DisplayMake") ? incoming.displayMake
                                                                    : nullptr;
      char32_t scratch[fv::kMaxDisplayCodePoints + 1];
      if (!CopyText32(tag.Value(), target != nullptr ? target : scratch)) return fv::kInvalidJob;
      AddUtf32(line, target != nullptr ? target : scratch);
    }
    line.Add(", reference ").Add(d.Reference().Chars());
    line.Add(", comment '").Add(d.Comment().Chars()).Add("')");

    Job* slot = Find(id);
    if (slot == nullptr) {
      for (Job& job : jobs_) {
        if (!job.used) {
          slot = &job;
          break;
        }
      }
    } else if (slot->state == fv::kMeasuring) {
      return fv::kBusy;
    }
    if (slot == nullptr) return fv::kJobListFull;
    *slot = incoming;
    Log(line.Chars());
    return 0;
  }

  i32 DeleteJob(Text& name) override {
    if (link_ == 0) return fv::kNotConnected;
    Job* job = Find(name.Chars());
    if (job == nullptr) {
      Line<128> line;
      Report(1, line.Add(fv::kNoJobWarning).Add(name.Chars()).Chars());
      return fv::kUnknownJob;
    }
    Line<128> line;
    Log(line.Add("deleted job ").Add(job->identifier).Chars());
    *job = Job();
    return 0;
  }

  i32 GetLog(Vec<u8>& out) override {
    return Store(out, reinterpret_cast<const u8*>(log_), logSize_) ? 0 : fv::kUnexpectedRequest;
  }

  i32 SendUserMessage(Text32& text) override {
    const u32 length = text.Length();
    if (length > fv::kMaxMessageCodePoints) return fv::kMessageTooLong;
    const char32_t* chars = text.Chars();
    Line<fv::kMaxMessageCodePoints * 4 + 32> line;
    line.Add("user message: ");
    for (u32 i = 0; i < length; ++i) line.CodePoint(chars[i]);
    Log(line.Chars());
    return 0;
  }

  i32 CorrectExrImage(Vec<u8>& in, Vec<u8>& out, Vec<float>& spectral) override {
    const u32 size = in.Count();
    if (size == 0 || size > kCorrectionCapacity || spectral.Count() != fv::kSpectralCount) {
      return fv::kBadCorrectionInput;
    }
    float sum = 0.0f;
    for (u32 i = 0; i < fv::kSpectralCount; ++i) sum += spectral.At(i);
    const float gain = sum / static_cast<float>(fv::kSpectralCount);
    for (u32 i = 0; i < size; ++i) correction_[i] = in.At(i);
    if (!ScaleImage(correction_, size, gain)) {
      Log("image correction: not an image this module understands");
      return fv::kImageNotUnderstood;
    }
    return Store(out, correction_, size) ? 0 : fv::kBadCorrectionInput;
  }

 private:
  // Writes `count` bytes into a driver vector through its own operations.
  static bool Store(Vec<u8>& out, const u8* bytes, u32 count) {
    out.Resize(count);
    if (out.Count() != count) return false;
    for (u32 i = 0; i < count; ++i) out.At(i) = bytes[i];
    return true;
  }

  Job* Find(const char* identifier) {
    for (Job& job : jobs_) {
      if (job.used && Equal(job.identifier, identifier)) return &job;
    }
    return nullptr;
  }
  Job* Measuring() {
    for (Job& job : jobs_) {
      if (job.used && job.state == fv::kMeasuring) return &job;
    }
    return nullptr;
  }
  u32 JobCount() const {
    u32 n = 0;
    for (const Job& job : jobs_) n += job.used ? 1 : 0;
    return n;
  }

  // The measurement runs on: the first look after DoJob still sees it
  // running, the next one sees it done.
  void Advance() {
    Job* job = Measuring();
    if (job == nullptr) return;
    if (pollsUntilMeasured_ > 0) {
      --pollsUntilMeasured_;
      return;
    }
    job->state = fv::kMeasured;
    job->measured = job->samples;
    Line<128> line;
    Log(line.Add("measured job ").Add(job->identifier).Chars());
  }

  // Reports to the driver's sink: 0 message, 1 warning, 2 error.
  void Report(int kind, const char* text) {
    if (sink_ == nullptr) return;
    if (kind == 0) sink_->Message(text);
    if (kind == 1) sink_->Warning(text);
    if (kind == 2) sink_->Error(text);
  }

  // Appends one line to the log, dropping the oldest whole lines when full.
  void Log(const char* text) {
    const u32 length = Length(text) + 1;
    if (length > kLogCapacity) return;
    u32 drop = 0;
    while (drop < logSize_ && logSize_ - drop + length > kLogCapacity) {
      while (drop < logSize_ && log_[drop] != '\n') ++drop;
      if (drop < logSize_) ++drop;
    }
    if (drop > 0) {
      for (u32 i = drop; i < logSize_; ++i) log_[i - drop] = log_[i];
      logSize_ -= drop;
    }
    for (u32 i = 0; i + 1 < length; ++i) log_[logSize_++] = text[i];
    log_[logSize_++] = '\n';
  }

  LogSink* sink_ = nullptr;
  int link_ = 0;  // 0 none, 1 USB, 2 network
  int pollsUntilMeasured_ = 0;
  Job jobs_[fv::kMaxJobs] = {};
  char log_[kLogCapacity] = {};
  u32 logSize_ = 0;
  u8 image_[kImageCapacity] = {};
  u8 correction_[kCorrectionCapacity] = {};
};

// Constant-initialised: there is no runtime to run a constructor.
constinit ForeignDevice device;

}  // namespace
}  // namespace foreign

FOREIGN_EXPORT foreign::Device* getInterface() { return &foreign::device; }
