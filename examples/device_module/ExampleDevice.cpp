// An example device module: the smallest instrument that serves a whole
// session of the Vantorel driver. It keeps jobs in memory, "measures" a job
// at once when asked to, and delivers for every sample the eleven
// geometries with 31 spectral values and an L*a*b* value (no images, which
// the driver accepts). Replace the bodies with calls into your instrument.
//
// What a module must keep to (docs/modules.md):
// - reach every value the driver passes only through its virtual
//   operations: the non-const accessors, Set/c_str/length, size/resize/at;
//   never construct, copy or delete one, never call their const accessors
//   or Text()/Items() (those are the driver's);
// - copy what it keeps: the values die when the call returns;
// - never let an exception out of an operation.
//
// Threads: the connects run on a worker thread of the driver, everything
// else on its request thread, one call at a time; the connection flag is
// the only state both touch.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "device/DeviceInterface.h"

namespace {

using namespace Vexil::Device_Cpp;

constexpr std::int32_t kNotConnected = 5001;
constexpr std::int32_t kUnknownJob = 5002;
constexpr std::int32_t kAddressRefused = 5003;
constexpr std::int32_t kNoSuchSample = 5004;
constexpr std::int32_t kInvalidJob = 5005;
constexpr std::int32_t kOutOfMemory = 5006;

constexpr std::int32_t kJobStored = 2001;
constexpr std::int32_t kJobMeasured = 2004;

const char* const kGeometries[] = {"r15as-45", "r15as-15", "r15as15", "r15as45",
                                   "r15as80",  "r45as-15", "r45as15", "r45as25",
                                   "r45as45",  "r45as75",  "r45as110"};

// Reading and writing the driver's values, through their virtual operations.
std::string Read(IString& text) {
  const char* chars = text.c_str();
  return chars == nullptr ? std::string() : std::string(chars, text.length());
}

std::u32string Read(IString32& text) {
  const char32_t* chars = text.c_str();
  return chars == nullptr ? std::u32string() : std::u32string(chars, text.length());
}

void AppendUtf8(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Runs an operation's body; an exception (std::bad_alloc from our own
// strings) must not cross into the driver, so it becomes a code.
template <typename Body>
std::int32_t Guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return kOutOfMemory;
  }
}

// Resizes through the vector's own operation and checks that it took (the
// driver leaves a vector unchanged when it cannot allocate).
template <typename Vector>
bool Resize(Vector& vector, std::uint32_t count) {
  vector.resize(count);
  return vector.size() == count;
}

struct Job {
  std::string identifier;
  std::string make;  // UTF-8, from the display tag "DisplayMake"
  std::int32_t samples = 0;
  std::int32_t state = kJobStored;
};

class ExampleDevice final : public DeviceInterface {
 public:
  std::int32_t SetLogger(LogInterface* logger) override {
    logger_ = logger;
    if (logger_ != nullptr) logger_->Message("example module: ready");
    return 0;
  }

  std::int32_t ConnectUsb(std::int32_t) override {
    connected_ = true;  // a real module opens the instrument here (may block)
    return 0;
  }

  std::int32_t ConnectNetwork(const std::uint8_t* address) override {
    if (address == nullptr || (address[0] | address[1] | address[2] | address[3]) == 0) {
      if (logger_ != nullptr) logger_->Error("example module: no address to connect to");
      return kAddressRefused;
    }
    connected_ = true;
    return 0;
  }

  std::int32_t GetState(State& state) override {
    state.deviceState() = connected_ ? 2 : 0;  // 2: ready to deliver a sample
    return 0;
  }

  std::int32_t DoJob(IString& job) override {
    return Guarded([&]() -> std::int32_t {
      if (!connected_) return kNotConnected;
      Job* found = Find(Read(job));
      if (found == nullptr) return kUnknownJob;
      found->state = kJobMeasured;  // a real instrument measures in the background
      Log("measured " + found->identifier);
      return 0;
    });
  }

  std::int32_t GetSample(IString& job, std::int32_t sampleIndex, IStringVector&, IStringVector&,
                         ImageChannelContentTypeVector&, SpectralChannelContentTypeVector&,
                         std::int32_t, std::int32_t, SampleInfo& info, ImageContentVector&,
                         SpectrumContentVector& spectra) override {
    return Guarded([&]() -> std::int32_t {
      if (!connected_) return kNotConnected;
      const Job* found = Find(Read(job));
      if (found == nullptr) return kUnknownJob;
      if (found->state != kJobMeasured || sampleIndex < 0 || sampleIndex >= found->samples) {
        return kNoSuchSample;
      }
      info.sampleIndex() = sampleIndex;
      const std::uint32_t geometries = sizeof kGeometries / sizeof kGeometries[0];
      if (!Resize(spectra, geometries)) return kOutOfMemory;
      for (std::uint32_t g = 0; g < geometries; ++g) {
        SpectrumContent& content = spectra.at(g);
        content.geometry().Set(kGeometries[g]);
        if (!Resize(content.contents(), 2)) return kOutOfMemory;
        // Item 0: 31 reflectance values, 400-700 nm in 10 nm steps.
        SpectralContentData& spectral = content.contents().at(0);
        spectral.channelType().contentKind() = 0;
        spectral.spectrum().description().firstWavelength() = 400;
        spectral.spectrum().description().wavelengthStep() = 10;
        IFloatVector& values = spectral.spectrum().values();
        if (!Resize(values, 31)) return kOutOfMemory;
        for (std::uint32_t i = 0; i < 31; ++i) values.at(i) = 0.4f + 0.01f * i - 0.02f * g;
        // Item 1: the L*a*b* value of the same geometry.
        SpectralContentData& colour = content.contents().at(1);
        colour.channelType().contentKind() = 3;
        colour.lab().SetLab(70.0f - 2.0f * g, 1.5f, 8.0f + 0.5f * sampleIndex);
      }
      Log("delivered sample " + std::to_string(sampleIndex) + " of " + found->identifier);
      return 0;
    });
  }

  std::int32_t Cancel() override { return 0; }

  std::int32_t GetJobs(JobInfoVector& jobs) override {
    if (!connected_) return kNotConnected;
    if (!Resize(jobs, static_cast<std::uint32_t>(jobs_.size()))) return kOutOfMemory;
    for (std::uint32_t k = 0; k < jobs_.size(); ++k) {
      IJobInfo& info = jobs.at(k);
      info.description().identifier().Set(jobs_[k].identifier.c_str());
      info.description().sampleCount() = jobs_[k].samples;
      info.modeInfo().stateCode() = jobs_[k].state;
    }
    return 0;
  }

  std::int32_t AddJob(IJobDescription& description) override {
    return Guarded([&]() -> std::int32_t {
      if (!connected_) return kNotConnected;
      Job job;
      job.identifier = Read(description.identifier());
      job.samples = description.sampleCount();
      if (job.identifier.empty() || job.samples < 0 || job.samples > 100) return kInvalidJob;
      ITag32Vector& display = description.displayTags();
      for (std::uint32_t i = 0; i < display.size(); ++i) {
        if (Read(display.at(i).name()) != "DisplayMake") continue;
        for (char32_t c : Read(display.at(i).value())) AppendUtf8(job.make, c);
      }
      Log("stored " + job.identifier + " (" + job.make + ")");
      jobs_.push_back(std::move(job));
      return 0;
    });
  }

  std::int32_t DeleteJob(IString& job) override {
    return Guarded([&]() -> std::int32_t {
      const std::string identifier = Read(job);
      for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
        if (it->identifier == identifier) {
          jobs_.erase(it);
          return 0;
        }
      }
      return kUnknownJob;
    });
  }

  std::int32_t GetLog(IUintVector8& out) override {
    if (!Resize(out, static_cast<std::uint32_t>(log_.size()))) return kOutOfMemory;
    for (std::uint32_t i = 0; i < log_.size(); ++i) out.at(i) = static_cast<std::uint8_t>(log_[i]);
    return 0;
  }

  std::int32_t SendUserMessage(IString32& text) override {
    return Guarded([&]() -> std::int32_t {
      std::string line = "message: ";
      for (char32_t c : Read(text)) AppendUtf8(line, c);
      Log(line);
      return 0;
    });
  }

  // This example leaves images as they are: the output is the input.
  std::int32_t CorrectExrImage(IUintVector8& in, IUintVector8& out, IFloatVector&) override {
    const std::uint32_t size = in.size();
    if (!Resize(out, size)) return kOutOfMemory;
    for (std::uint32_t i = 0; i < size; ++i) out.at(i) = in.at(i);
    return 0;
  }

 private:
  Job* Find(const std::string& identifier) {
    for (Job& job : jobs_) {
      if (job.identifier == identifier) return &job;
    }
    return nullptr;
  }
  void Log(const std::string& line) { log_ += line + "\n"; }

  LogInterface* logger_ = nullptr;
  std::atomic<bool> connected_{false};
  std::vector<Job> jobs_;
  std::string log_;
};

}  // namespace

#if defined(_WIN32)
#define EXAMPLE_EXPORT extern "C" __declspec(dllexport)
#else
#define EXAMPLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The module's one export; the driver calls it once and keeps the object
// for the life of the process.
EXAMPLE_EXPORT DeviceInterface* getInterface() {
  static ExampleDevice* const device = new ExampleDevice;  // never deleted
  return device;
}
