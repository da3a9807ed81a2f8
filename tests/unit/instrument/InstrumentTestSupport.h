// Helpers for the virtual instrument's tests: a log sink that records lines,
// a fast configuration, and short-hands that build the driver's value
// objects the way the driver does.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "device/DeviceValues.h"
#include "device/LogInterface.h"
#include "sim/instrument/SimConfig.h"
#include "sim/instrument/VirtualInstrument.h"

namespace instrument::test {

namespace dv = Vexil::Device_Cpp;

class RecordingLogger final : public dv::LogInterface {
 public:
  void Message(const char* text) override { Add("M " + std::string(text)); }
  void Error(const char* text) override { Add("E " + std::string(text)); }
  void Warning(const char* text) override { Add("W " + std::string(text)); }

  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Whether a line of that level holds `part`, waiting up to 5 s for it: the
  // instrument forwards its lines from a thread of its own.
  bool Contains(const std::string& prefixAndPart) {
    const std::string prefix = prefixAndPart.substr(0, 2);
    const std::string part = prefixAndPart.substr(2);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
      for (const std::string& line : Lines()) {
        if (line.rfind(prefix, 0) == 0 && line.find(part) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

 private:
  void Add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

inline SimConfig FastConfig() {
  SimConfig config;
  config.connectMs = 0;
  config.sampleMs = 5;
  config.imagePx = 16;
  return config;
}

// A file name in the temporary folder unique to the running test.
inline std::string TempPath(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto dir = std::filesystem::temp_directory_path() / "vantorel-instrument-tests";
  std::filesystem::create_directories(dir);
  const auto path = dir / (std::string(info->test_suite_name()) + "." + info->name() + "." + name);
  std::filesystem::remove(path);
  std::filesystem::remove(path.string() + ".damaged");
  std::filesystem::remove(path.string() + ".tmp");
  return path.string();
}

// The job description the driver's add-job request builds.
inline std::int32_t AddJob(dv::DeviceInterface& device, const std::string& id,
                           const std::u32string& make, std::int32_t samples) {
  dv::IJobDescription description;
  description.identifier() = dv::IString(id);
  description.sampleCount() = samples;
  description.plannedSampleCount() = samples;
  description.displayTags().Items().emplace_back(
      dv::IString("DisplayName"), dv::IString32(std::u32string(id.begin(), id.end())));
  description.displayTags().Items().emplace_back(dv::IString("DisplayMake"), dv::IString32(make));
  description.tags().Items().emplace_back(dv::IString("Make"), dv::IString(""));
  description.tags().Items().emplace_back(dv::IString("MakeId"), dv::IString(""));
  description.referenceName() = dv::IString("NONE");
  return device.AddJob(description);
}

inline std::int32_t JobState(dv::DeviceInterface& device, const std::string& id) {
  dv::JobInfoVector jobs;
  device.GetJobs(jobs);
  for (auto& job : jobs.Items()) {
    if (job.description().identifier().Text() == id) return job.modeInfo().stateCode();
  }
  return -1;
}

inline bool WaitForJobState(dv::DeviceInterface& device, const std::string& id, std::int32_t state,
                            std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (JobState(device, id) == state) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// The out-parameters of one GetSample call, requested as the driver does.
struct SampleResult {
  std::int32_t code = 0;
  dv::SampleInfo info;
  dv::ImageContentVector images;
  dv::SpectrumContentVector spectra;
};

inline SampleResult FetchSample(dv::DeviceInterface& device, const std::string& id,
                                std::int32_t index) {
  SampleResult result;
  dv::IString job(id.c_str());
  dv::IStringVector imageChannels{dv::IString("ALL")};
  dv::IStringVector spectralChannels{dv::IString("ALL")};
  dv::ImageChannelContentTypeVector imageTypes{0};
  dv::SpectralChannelContentTypeVector spectralTypes{dv::SpectralChannelContentType(0, 0),
                                                     dv::SpectralChannelContentType(3, 0)};
  result.code = device.GetSample(job, index, imageChannels, spectralChannels, imageTypes,
                                 spectralTypes, 5, 1, result.info, result.images, result.spectra);
  return result;
}

inline std::uint8_t DeviceState(dv::DeviceInterface& device, std::int32_t* code = nullptr) {
  dv::State state;
  state.deviceState() = 77;
  const std::int32_t result = device.GetState(state);
  if (code != nullptr) *code = result;
  return state.deviceState();
}

}  // namespace instrument::test
