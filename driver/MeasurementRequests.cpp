// Measurement requests: one sample of a job, or every sample of a job
// combined by the glue module with its images corrected by the device.
#include <cstring>
#include <string>
#include <vector>

#include "driver/DriverInvoker.h"
#include "messages/Messages.h"
#include "messages/Protocol.h"
#include "messages/VantorelMeasurement.h"
#include "platform/Time.h"

using namespace Vexil::Device_Cpp;

namespace {

constexpr std::uint8_t kDeviceReady = 2;
constexpr int kMaxReadinessPolls = 5;
// Passed unchanged to the device's sample read; their meaning is the
// device's.
constexpr std::int32_t kSampleOption1 = 5;
constexpr std::int32_t kSampleOption2 = 1;

// The name of `angle` for a log line; a glue module may file an image under a
// key that is not one of the eleven geometries.
std::string GeometryLabel(SpectrumAngle angle) {
  const char* name = AngleToGeometry(angle);
  return name != nullptr ? name : "#" + std::to_string(static_cast<std::int32_t>(angle));
}

// The first job whose identifier equals `name` byte for byte, or null.
IJobInfo* FindJob(JobInfoVector& jobs, const std::string& name) {
  for (IJobInfo& job : jobs.Items()) {
    if (job.description().identifier().Text() == name) return &job;
  }
  return nullptr;
}

// Reads one sample with the fixed content request: every channel, the
// spectral kind then the colour kind, the image kind.
std::int32_t ReadSample(DeviceInterface& device, const std::string& name, std::int32_t index,
                        ImageContentVector& images, SpectrumContentVector& spectra) {
  IString job(name);
  IStringVector imageChannels{IString("ALL")};
  IStringVector spectralChannels{IString("ALL")};
  ImageChannelContentTypeVector imageTypes{0};
  SpectralChannelContentTypeVector spectralTypes{SpectralChannelContentType(0, 0),
                                                 SpectralChannelContentType(3, 0)};
  SampleInfo info;
  return device.GetSample(job, index, imageChannels, spectralChannels, imageTypes, spectralTypes,
                          kSampleOption1, kSampleOption2, info, images, spectra);
}

// Converts one sample's contents into `data`. Entries the records have no
// place for (a geometry that is not one of the eleven, too few items or
// values, an image entry without an item) are skipped with one warning each,
// so that no real geometry is overwritten and nothing is read out of bounds.
void FillFromSample(VantorelMeasurementsFull& data, ImageContentVector& images,
                    SpectrumContentVector& spectra, LogInterface& log) {
  auto skip = [&log](const std::string& what, const std::string& geometry) {
    log.Warning(
        ("measurement entry skipped: " + what + " (geometry \"" + geometry + "\")").c_str());
  };
  std::int64_t k = 0;
  for (SpectrumContent& entry : spectra.Items()) {
    const std::int64_t position = k++;
    const std::string& geometry = entry.geometry().Text();
    const std::optional<SpectrumAngle> angle = FindGeometry(geometry);
    if (!angle) {
      skip("unlisted geometry", geometry);
      continue;
    }
    auto& items = entry.contents().Items();
    if (items.size() < 2) {
      skip("fewer than two spectral items", geometry);
      continue;
    }
    const auto& values = items[0].spectrum().values().Items();
    if (values.size() < kSpectrumValueCount) {
      skip("fewer than 31 spectral values", geometry);
      continue;
    }
    VantorelMeasurements& record = data.measurements[*angle];
    record.index = position;
    record.angle = *angle;
    std::memcpy(record.spectrum.data(), values.data(), kSpectrumValueCount * sizeof(float));
    const Lab& lab = items[1].lab();
    record.lab = {*lab.GetL(), *lab.GetA(), *lab.GetB()};
  }
  for (ImageContent& entry : images.Items()) {
    const std::string& geometry = entry.geometry().Text();
    const std::optional<SpectrumAngle> angle = FindGeometry(geometry);
    if (!angle) {
      skip("unlisted image geometry", geometry);
      continue;
    }
    auto& items = entry.contents().Items();
    if (items.empty()) {
      skip("image entry without an image", geometry);
      continue;
    }
    // The device's copy dies with the request values: take its bytes.
    data.images[*angle].exr.swap(items[0].exr().data().Items());
  }
}

}  // namespace

std::int32_t DriverInvoker::WaitUntilReady(std::int32_t& currentResult) {
  State SpecState;
  currentResult = device->GetState(SpecState);
  if (SpecState.deviceState() == kDeviceReady) return 0;
  // Poll: each poll reads the state, then pauses; polling ends once the
  // instrument is ready or after the fifth poll.
  for (int poll = 0; poll < kMaxReadinessPolls; ++poll) {
    const std::int32_t code = device->GetState(SpecState);
    if (code != 0) {
      deviceConnected = false;
      return code;
    }
    Platform::SleepMs(readinessPollMs);
    if (SpecState.deviceState() == kDeviceReady) return 0;
  }
  deviceConnected = false;
  return DeviceNotConnectedCode;
}

void DriverInvoker::CorrectImages(VantorelMeasurementsFull& data) {
  for (auto& [angle, image] : data.images) {
    auto spectral = data.measurements.find(angle);
    if (spectral == data.measurements.end()) {
      logger.Warning(
          ("image of geometry \"" + GeometryLabel(angle) + "\" has no spectrum; left uncorrected")
              .c_str());
      continue;
    }
    IUintVector8 InOriginalExr(image.exr);
    IFloatVector InFloatSpectral(
        std::vector<float>(spectral->second.spectrum.begin(), spectral->second.spectrum.end()));
    IUintVector8 OutCorrectedExr;
    const std::int32_t code =
        device->CorrectExrImage(InOriginalExr, OutCorrectedExr, InFloatSpectral);
    std::vector<std::uint8_t>& corrected = OutCorrectedExr.Items();
    if (code != 0) {
      // The device's output is the image to answer, whatever the code says;
      // only when it delivered none is the original the better answer than
      // an empty image.
      const bool delivered = !corrected.empty();
      logger.Warning(("image correction of geometry \"" + GeometryLabel(angle) +
                      "\" returned code " + std::to_string(code) +
                      (delivered ? "; its output is used" : " and no image; left uncorrected"))
                         .c_str());
      if (!delivered) continue;
    }
    image.exr.swap(corrected);
  }
}

void DriverInvoker::GetSample(const std::string& name, std::int32_t sampleIndex) {
  MsgAnswerGetSample answer;
  MsgAnswerGetSample* pAnswer = &answer;
  auto SendAnswerLambda = [this, pAnswer](std::int32_t code) {
    pAnswer->result = code;
    if (connection != nullptr) connection->SendMsg(Protocol::kGetSample, pAnswer);
  };
  if (!deviceConnected) {
    SendAnswerLambda(DeviceNotConnectedCode);
    return;
  }
  JobInfoVector AllJobs;
  device->GetJobs(AllJobs);
  if (FindJob(AllJobs, name) == nullptr) {
    SendAnswerLambda(JobNotFoundCode);
    return;
  }
  {
    ImageContentVector images;
    SpectrumContentVector spectra;
    const std::int32_t code = ReadSample(*device, name, sampleIndex, images, spectra);
    if (code != 0) {
      SendAnswerLambda(code);
      return;
    }
    FillFromSample(answer.data, images, spectra, logger);
  }
  glue->SampleRead(&answer.data);
  glue->ResultReady(&answer.data);
  SendAnswerLambda(0);
}

void DriverInvoker::GetMeasure(const std::string& name) {
  MsgAnswerGetMeasure answer;
  MsgAnswerGetMeasure* pAnswer = &answer;
  auto SendAnswerLambda = [this, pAnswer](std::int32_t code) {
    pAnswer->result = code;
    if (connection != nullptr) connection->SendMsg(Protocol::kGetMeasure, pAnswer);
  };
  if (!deviceConnected) {
    SendAnswerLambda(DeviceNotConnectedCode);
    return;
  }
  JobInfoVector AllJobs;
  std::int32_t result = device->GetJobs(AllJobs);
  const IJobInfo* job = FindJob(AllJobs, name);
  if (job == nullptr) {
    SendAnswerLambda(JobNotFoundCode);
    return;
  }
  const std::int32_t sampleCount = job->description().sampleCount();

  // Ends the request early. Samples already handed to the glue module belong
  // to a result that will never be filled: tell the module the result is
  // over, so that they cannot mix into the next measurement.
  int samplesHanded = 0;
  auto fail = [&](std::int32_t code) {
    if (samplesHanded > 0) {
      answer.data.measurements.clear();
      answer.data.images.clear();
      glue->ResultReady(&answer.data);
      answer.data.measurements.clear();
      answer.data.images.clear();
    }
    SendAnswerLambda(code);
  };

  for (std::int32_t i = 0; i < sampleCount; ++i) {
    const std::int32_t notReady = WaitUntilReady(result);
    if (notReady != 0) {
      fail(notReady);
      return;
    }
    ImageContentVector images;
    SpectrumContentVector spectra;
    result = ReadSample(*device, name, i, images, spectra);
    if (result != 0) {
      fail(result);
      return;
    }
    FillFromSample(answer.data, images, spectra, logger);
    glue->AddSample(&answer.data);
    ++samplesHanded;
    // Only one sample is held at a time.
    answer.data.measurements.clear();
    answer.data.images.clear();
  }
  glue->FillResult(&answer.data);
  CorrectImages(answer.data);
  glue->ResultReady(&answer.data);
  SendAnswerLambda(result);
}
