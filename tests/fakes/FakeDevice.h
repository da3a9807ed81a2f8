// FakeDevice: an in-process DeviceInterface for tests of the driver, with
// scripted results and a log of every call.
//
// It behaves like a module: it fills its out-parameters through the value
// classes' virtual operations only (resize, at, accessors, Set), so code
// under test sees what a real module would leave behind. Header-only: link
// vantorel_device and vantorel_colour and include "fakes/FakeDevice.h".
//
// Threads: every operation runs under one internal mutex, except the wait of
// a connect, so a connect may run on a worker thread while the test thread
// calls other operations or reads Calls(). The connect switches are atomics
// and may change at any time; set every other public switch while no
// operation runs. The destructor ends pending connect waits and waits until
// no thread is inside ConnectUsb or ConnectNetwork, so a detached worker that
// outlived its time-out never touches a destroyed fake; a thread must not
// enter a connect after destruction has begun.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "colour/Utf8.h"
#include "device/DeviceInterface.h"
#include "messages/MeasurementGeometry.h"

namespace Fakes {

// One stored job as GetJobs lists it.
struct FakeJob {
  std::string identifier;
  std::int32_t sampleCount = 0;
  std::int32_t stateCode = 2001;
};

// One recorded call: the operation's name and its arguments as texts
// (UTF-32 texts converted to UTF-8, lists joined with ',').
struct FakeCall {
  std::string name;
  std::vector<std::string> args;
};

// What GetSample delivers for a sample, in this order: spectral contents for
// the first `geometryCount` names of kMeasurementGeometries (then, if
// `unlistedGeometry`, one named kUnlistedGeometryName), and image contents
// for the first `imageCount` names (then the unlisted one likewise).
struct FakeSampleScript {
  int geometryCount = 11;  // clamped to 0..11
  int imageCount = 6;      // clamped to 0..11
  bool unlistedGeometry = false;
  // Short contents: every spectral content has one entry of 3 values and no
  // L*a*b* entry; every image content has no entry.
  bool shortContents = false;
  // 0..10: a last spectral content names that geometry again, with the
  // values of geometry number kDuplicateValues.
  int duplicateGeometry = -1;
};

class FakeDevice final : public Vexil::Device_Cpp::DeviceInterface {
 public:
  static constexpr const char* kUnlistedGeometryName = "R15AS15";
  // Geometry number the value generators use for the unlisted geometry.
  static constexpr int kUnlistedGeometry = 11;
  // Geometry number of the values a duplicated geometry's second entry holds.
  static constexpr int kDuplicateValues = 12;
  static constexpr std::uint32_t kSpectrumSize = 31;

  // --- Switches -----------------------------------------------------------
  // Connect results and the time a connect takes; a negative delay waits
  // until ReleaseConnects() (or destruction).
  std::atomic<std::int32_t> connectUsbResult{0};
  std::atomic<std::int32_t> connectNetworkResult{0};
  std::atomic<int> connectDelayMs{0};

  // Result codes of the other operations. A non-zero code leaves the
  // out-parameters untouched.
  std::int32_t setLoggerResult = 0;
  std::int32_t getStateResult = 0;
  std::int32_t doJobResult = 0;
  std::int32_t getSampleResult = 0;
  std::int32_t cancelResult = 0;
  std::int32_t getJobsResult = 0;
  std::int32_t addJobResult = 0;
  std::int32_t deleteJobResult = 0;
  std::int32_t getLogResult = 0;
  std::int32_t sendUserMessageResult = 0;
  std::int32_t correctExrImageResult = 0;
  // A non-negative index limits getSampleResult to the sample of that index.
  std::int32_t getSampleResultIndex = -1;
  // With a non-zero correctExrImageResult, still write the corrected image.
  bool correctionOutputOnFailure = false;

  // deviceState values GetState reports, front first; the last one repeats.
  std::deque<std::uint8_t> deviceStates{2};
  // The stored jobs. With `jobsFollowCalls`, a successful AddJob stores (or
  // replaces) a job in state 2001, DeleteJob removes it and a successful
  // DoJob of a stored job sets its state to `doJobState`.
  std::vector<FakeJob> jobs;
  bool jobsFollowCalls = true;
  std::int32_t doJobState = 2004;
  FakeSampleScript sample;
  std::vector<std::uint8_t> log;
  // CorrectExrImage writes the input followed by this byte.
  std::uint8_t correctionMarker = 0xC5;

  // --- Values GetSample delivers, for expectations -------------------------
  static float SpectrumValue(std::int32_t sampleIndex, int geometry, std::uint32_t i) {
    return static_cast<float>(sampleIndex) + 0.1f * static_cast<float>(geometry) +
           0.001f * static_cast<float>(i);
  }
  static std::array<float, 3> LabValues(std::int32_t sampleIndex, int geometry) {
    return {50.0f + static_cast<float>(geometry), static_cast<float>(sampleIndex),
            -static_cast<float>(geometry)};
  }
  static std::vector<std::uint8_t> ImageBytes(std::int32_t sampleIndex, int geometry) {
    return {'E', 'X', 'R', static_cast<std::uint8_t>(sampleIndex),
            static_cast<std::uint8_t>(geometry)};
  }

  FakeDevice() = default;
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;
  ~FakeDevice() {
    std::unique_lock lock(mutex_);
    releaseConnects_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return connectsInside_ == 0; });
  }

  // Ends the current and every later connect wait at once.
  void ReleaseConnects() {
    std::lock_guard lock(mutex_);
    releaseConnects_ = true;
    changed_.notify_all();
  }

  // Blocks until `count` connects are waiting (or have waited) for their
  // delay, or `timeout` passes; true when they are.
  bool WaitForConnectsStarted(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return connectsStarted_ >= count; });
  }

  std::vector<FakeCall> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::string> CallNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const FakeCall& call : calls_) names.push_back(call.name);
    return names;
  }
  int CountCalls(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [&](const FakeCall& c) { return c.name == name; }));
  }
  void ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

  Vexil::Device_Cpp::LogInterface* Logger() const {
    std::lock_guard lock(mutex_);
    return logger_;
  }
  // Copies of the last AddJob description, CorrectExrImage spectrum and user
  // message.
  Vexil::Device_Cpp::IJobDescription LastJobDescription() const {
    std::lock_guard lock(mutex_);
    return lastJob_;
  }
  std::vector<float> LastCorrectionSpectrum() const {
    std::lock_guard lock(mutex_);
    return lastSpectrum_;
  }
  std::u32string LastUserMessage() const {
    std::lock_guard lock(mutex_);
    return lastUserMessage_;
  }

  // --- DeviceInterface ----------------------------------------------------
  std::int32_t SetLogger(Vexil::Device_Cpp::LogInterface* logger) override {
    std::lock_guard lock(mutex_);
    Record("SetLogger", {logger != nullptr ? "logger" : "null"});
    logger_ = logger;
    return setLoggerResult;
  }

  std::int32_t ConnectUsb(std::int32_t port) override {
    return Connect("ConnectUsb", std::to_string(port), connectUsbResult);
  }

  std::int32_t ConnectNetwork(const std::uint8_t* address4) override {
    std::string address = "null";
    if (address4 != nullptr) {
      address = std::to_string(address4[0]) + "." + std::to_string(address4[1]) + "." +
                std::to_string(address4[2]) + "." + std::to_string(address4[3]);
    }
    return Connect("ConnectNetwork", address, connectNetworkResult);
  }

  std::int32_t GetState(Vexil::Device_Cpp::State& state) override {
    std::lock_guard lock(mutex_);
    Record("GetState", {});
    if (getStateResult != 0) return getStateResult;
    state.deviceState() = deviceStates.empty() ? 0 : deviceStates.front();
    if (deviceStates.size() > 1) deviceStates.pop_front();
    return 0;
  }

  std::int32_t DoJob(Vexil::Device_Cpp::IString& job) override {
    std::lock_guard lock(mutex_);
    Record("DoJob", {job.c_str()});
    if (doJobResult != 0) return doJobResult;
    if (jobsFollowCalls) {
      for (FakeJob& stored : jobs) {
        if (stored.identifier == job.c_str()) stored.stateCode = doJobState;
      }
    }
    return 0;
  }

  std::int32_t GetSample(Vexil::Device_Cpp::IString& job, std::int32_t sampleIndex,
                         Vexil::Device_Cpp::IStringVector& imageChannels,
                         Vexil::Device_Cpp::IStringVector& spectralChannels,
                         Vexil::Device_Cpp::ImageChannelContentTypeVector& imageTypes,
                         Vexil::Device_Cpp::SpectralChannelContentTypeVector& spectralTypes,
                         std::int32_t option1, std::int32_t option2,
                         Vexil::Device_Cpp::SampleInfo& info,
                         Vexil::Device_Cpp::ImageContentVector& images,
                         Vexil::Device_Cpp::SpectrumContentVector& spectra) override {
    std::lock_guard lock(mutex_);
    std::string types;
    for (std::uint32_t i = 0; i < spectralTypes.size(); ++i) {
      auto& type = spectralTypes.at(i);
      if (i != 0) types += ',';
      types +=
          "(" + std::to_string(type.contentKind()) + "," + std::to_string(type.variant()) + ")";
    }
    std::string imageTypeList;
    for (std::uint32_t i = 0; i < imageTypes.size(); ++i) {
      if (i != 0) imageTypeList += ',';
      imageTypeList += std::to_string(imageTypes.at(i));
    }
    Record("GetSample",
           {job.c_str(), std::to_string(sampleIndex), Join(imageChannels), Join(spectralChannels),
            imageTypeList, types, std::to_string(option1), std::to_string(option2)});
    if (getSampleResult != 0 && (getSampleResultIndex < 0 || getSampleResultIndex == sampleIndex)) {
      return getSampleResult;
    }

    info.sampleIndex() = sampleIndex;
    const int spectral = std::clamp(sample.geometryCount, 0, 11);
    const int imaged = std::clamp(sample.imageCount, 0, 11);
    const int extra = sample.unlistedGeometry ? 1 : 0;
    const bool duplicate = sample.duplicateGeometry >= 0 && sample.duplicateGeometry < 11;
    spectra.resize(static_cast<std::uint32_t>(spectral + extra + (duplicate ? 1 : 0)));
    for (int g = 0; g < spectral + extra; ++g) {
      const int geometry = g < spectral ? g : kUnlistedGeometry;
      FillSpectrum(spectra.at(static_cast<std::uint32_t>(g)), sampleIndex, geometry,
                   GeometryName(geometry));
    }
    if (duplicate) {
      FillSpectrum(spectra.at(static_cast<std::uint32_t>(spectral + extra)), sampleIndex,
                   kDuplicateValues, GeometryName(sample.duplicateGeometry));
    }
    images.resize(static_cast<std::uint32_t>(imaged + extra));
    for (int g = 0; g < imaged + extra; ++g) {
      const int geometry = g < imaged ? g : kUnlistedGeometry;
      FillImage(images.at(static_cast<std::uint32_t>(g)), sampleIndex, geometry);
    }
    return 0;
  }

  std::int32_t Cancel() override {
    std::lock_guard lock(mutex_);
    Record("Cancel", {});
    return cancelResult;
  }

  std::int32_t GetJobs(Vexil::Device_Cpp::JobInfoVector& out) override {
    std::lock_guard lock(mutex_);
    Record("GetJobs", {});
    if (getJobsResult != 0) return getJobsResult;
    out.resize(static_cast<std::uint32_t>(jobs.size()));
    for (std::uint32_t i = 0; i < out.size(); ++i) {
      Vexil::Device_Cpp::IJobInfo& info = out.at(i);
      info.description().identifier().Set(jobs[i].identifier.c_str());
      info.description().sampleCount() = jobs[i].sampleCount;
      info.modeInfo().stateCode() = jobs[i].stateCode;
    }
    return 0;
  }

  std::int32_t AddJob(Vexil::Device_Cpp::IJobDescription& job) override {
    std::lock_guard lock(mutex_);
    std::string tags;
    for (std::uint32_t i = 0; i < job.tags().size(); ++i) {
      if (i != 0) tags += ',';
      tags += std::string(job.tags().at(i).name().c_str()) + "=" + job.tags().at(i).value().c_str();
    }
    std::string displayTags;
    for (std::uint32_t i = 0; i < job.displayTags().size(); ++i) {
      if (i != 0) displayTags += ',';
      displayTags += std::string(job.displayTags().at(i).name().c_str()) + "=" +
                     Utf8(job.displayTags().at(i).value());
    }
    Record("AddJob", {job.identifier().c_str(), std::to_string(job.sampleCount()), tags,
                      displayTags, std::to_string(job.version()), job.comment().c_str(),
                      job.referenceName().c_str(), std::to_string(job.plannedSampleCount())});
    lastJob_ = job;
    if (addJobResult != 0) return addJobResult;
    if (jobsFollowCalls) {
      EraseJob(job.identifier().c_str());
      jobs.push_back({job.identifier().c_str(), job.sampleCount(), 2001});
    }
    return 0;
  }

  std::int32_t DeleteJob(Vexil::Device_Cpp::IString& job) override {
    std::lock_guard lock(mutex_);
    Record("DeleteJob", {job.c_str()});
    if (deleteJobResult != 0) return deleteJobResult;
    if (jobsFollowCalls) EraseJob(job.c_str());
    return 0;
  }

  std::int32_t GetLog(Vexil::Device_Cpp::IUintVector8& out) override {
    std::lock_guard lock(mutex_);
    Record("GetLog", {});
    if (getLogResult != 0) return getLogResult;
    out.resize(static_cast<std::uint32_t>(log.size()));
    for (std::uint32_t i = 0; i < out.size(); ++i) out.at(i) = log[i];
    return 0;
  }

  std::int32_t SendUserMessage(Vexil::Device_Cpp::IString32& text) override {
    std::lock_guard lock(mutex_);
    Record("SendUserMessage", {Utf8(text)});
    lastUserMessage_ = text.c_str();
    return sendUserMessageResult;
  }

  std::int32_t CorrectExrImage(Vexil::Device_Cpp::IUintVector8& in,
                               Vexil::Device_Cpp::IUintVector8& out,
                               Vexil::Device_Cpp::IFloatVector& spectral) override {
    std::lock_guard lock(mutex_);
    Record("CorrectExrImage", {std::to_string(in.size()), std::to_string(spectral.size())});
    lastSpectrum_.clear();
    for (std::uint32_t i = 0; i < spectral.size(); ++i) lastSpectrum_.push_back(spectral.at(i));
    if (correctExrImageResult != 0 && !correctionOutputOnFailure) return correctExrImageResult;
    const std::uint32_t size = in.size();
    out.resize(size + 1);
    for (std::uint32_t i = 0; i < size; ++i) out.at(i) = in.at(i);
    out.at(size) = correctionMarker;
    return correctExrImageResult;
  }

 private:
  // Caller holds mutex_.
  void Record(const char* name, std::vector<std::string> args) {
    calls_.push_back({name, std::move(args)});
  }

  std::int32_t Connect(const char* name, std::string arg, std::atomic<std::int32_t>& result) {
    std::unique_lock lock(mutex_);
    Record(name, {std::move(arg)});
    ++connectsInside_;
    ++connectsStarted_;
    changed_.notify_all();
    const int delay = connectDelayMs.load();
    if (delay < 0) {
      changed_.wait(lock, [this] { return releaseConnects_; });
    } else if (delay > 0) {
      changed_.wait_for(lock, std::chrono::milliseconds(delay),
                        [this] { return releaseConnects_; });
    }
    // Read everything needed before leaving: once connectsInside_ drops, the
    // destructor may finish.
    const std::int32_t code = result.load();
    --connectsInside_;
    changed_.notify_all();
    return code;
  }

  void EraseJob(const std::string& identifier) {
    std::erase_if(jobs, [&](const FakeJob& j) { return j.identifier == identifier; });
  }

  // Values of geometry number `geometry`, under the name `name`.
  void FillSpectrum(Vexil::Device_Cpp::SpectrumContent& content, std::int32_t sampleIndex,
                    int geometry, const char* name) {
    content.geometry().Set(name);
    const bool full = !sample.shortContents;
    content.contents().resize(full ? 2 : 1);
    Vexil::Device_Cpp::SpectralContentData& spectral = content.contents().at(0);
    spectral.channelType().contentKind() = 0;
    const std::uint32_t count = full ? kSpectrumSize : 3;
    spectral.spectrum().values().resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      spectral.spectrum().values().at(i) = SpectrumValue(sampleIndex, geometry, i);
    }
    if (!full) return;
    Vexil::Device_Cpp::SpectralContentData& colour = content.contents().at(1);
    colour.channelType().contentKind() = 3;
    const std::array<float, 3> lab = LabValues(sampleIndex, geometry);
    colour.lab().SetLab(lab[0], lab[1], lab[2]);
  }

  void FillImage(Vexil::Device_Cpp::ImageContent& content, std::int32_t sampleIndex, int geometry) {
    content.geometry().Set(GeometryName(geometry));
    if (sample.shortContents) {
      content.contents().resize(0);
      return;
    }
    content.contents().resize(1);
    Vexil::Device_Cpp::IUintVector8& data = content.contents().at(0).exr().data();
    const std::vector<std::uint8_t> bytes = ImageBytes(sampleIndex, geometry);
    data.resize(static_cast<std::uint32_t>(bytes.size()));
    for (std::uint32_t i = 0; i < bytes.size(); ++i) data.at(i) = bytes[i];
  }

  static const char* GeometryName(int geometry) {
    return geometry >= 0 && geometry < 11
               ? kMeasurementGeometries[static_cast<std::size_t>(geometry)].name
               : kUnlistedGeometryName;
  }

  static std::string Join(Vexil::Device_Cpp::IStringVector& texts) {
    std::string joined;
    for (std::uint32_t i = 0; i < texts.size(); ++i) {
      if (i != 0) joined += ',';
      joined += texts.at(i).c_str();
    }
    return joined;
  }

  // UTF-32 to UTF-8; a unit that is no code point becomes U+FFFD.
  static std::string Utf8(Vexil::Device_Cpp::IString32& text) {
    return colour::EncodeUtf8(text.c_str());
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool releaseConnects_ = false;
  int connectsInside_ = 0;
  int connectsStarted_ = 0;
  std::vector<FakeCall> calls_;
  Vexil::Device_Cpp::LogInterface* logger_ = nullptr;  // borrowed, never deleted
  Vexil::Device_Cpp::IJobDescription lastJob_;
  std::vector<float> lastSpectrum_;
  std::u32string lastUserMessage_;
};

}  // namespace Fakes
