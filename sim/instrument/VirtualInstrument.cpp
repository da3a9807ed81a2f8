#include "sim/instrument/VirtualInstrument.h"

#include <chrono>
#include <cmath>
#include <span>
#include <utility>

#include "colour/ExrCorrection.h"
#include "colour/Utf8.h"
#include "sim/instrument/SampleMaker.h"
#include "sim/instrument/SimCodes.h"
#include "sim/instrument/StoreReader.h"
#include "sim/instrument/StoreWriter.h"
#include "sim/instrument/ValueAccess.h"

namespace instrument {
namespace {

constexpr std::uint8_t kUsbConnection = 1;
constexpr std::uint8_t kNetworkConnection = 2;

std::int64_t NowUtcMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

VirtualInstrument::VirtualInstrument(SimConfig config) : config_(std::move(config)) {
  for (const std::string& warning : config_.warnings) log_.Write(LogLevel::kWarning, warning);
  log_.Write(LogLevel::kMessage, "virtual instrument started (connect " +
                                     std::to_string(config_.connectMs) + " ms, sample " +
                                     std::to_string(config_.sampleMs) + " ms, images " +
                                     std::to_string(config_.imagePx) + " px)");
  LoadStore();
  measureThread_ = std::thread([this] { MeasureLoop(); });
}

VirtualInstrument::~VirtualInstrument() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return waitingCalls_ == 0; });
  lock.unlock();
  measureThread_.join();
}

void VirtualInstrument::LoadStore() {
  if (config_.storePath.empty()) return;
  std::vector<std::uint8_t> bytes;
  const ReadResult read = ReadWholeFile(config_.storePath, bytes);
  if (read == ReadResult::kMissing) {
    log_.Write(LogLevel::kMessage,
               "store " + Quoted(config_.storePath) + " not found; memory empty");
    return;
  }
  std::vector<JobRecord> jobs;
  if (read == ReadResult::kRead && ParseStore(bytes.data(), bytes.size(), jobs)) {
    std::size_t samples = 0;
    for (JobRecord& job : jobs) {
      // A measurement cut short by the end of the last run is not resumed.
      if (job.stateCode == kJobMeasuring) job.stateCode = IdleState(job);
      samples += MeasuredCount(job);
    }
    log_.Write(LogLevel::kMessage, "restored " + std::to_string(jobs.size()) + " jobs and " +
                                       std::to_string(samples) + " measured samples from " +
                                       Quoted(config_.storePath));
    jobs_ = JobStore(std::move(jobs));
    return;
  }
  const std::string reason = read == ReadResult::kRead ? "damaged" : "unreadable";
  const std::string aside = SetAside(config_.storePath);
  log_.Write(LogLevel::kError, "store " + Quoted(config_.storePath) + " is " + reason +
                                   "; not used, " +
                                   (aside.empty() ? std::string("and it could not be renamed")
                                                  : "renamed to " + Quoted(aside)));
}

void VirtualInstrument::Persist() {
  if (config_.storePath.empty()) return;
  std::lock_guard storeLock(storeMutex_);
  std::vector<JobRecord> snapshot;
  {
    std::lock_guard lock(mutex_);
    snapshot = jobs_.Jobs();  // samples are shared, not copied
  }
  std::string error;
  if (!WriteFileAtomically(config_.storePath, SerializeStore(snapshot), error)) {
    log_.Write(LogLevel::kError, "store not written: " + error);
  }
}

std::int32_t VirtualInstrument::SetLogger(Vexil::Device_Cpp::LogInterface* logger) {
  log_.SetSink(logger);
  return 0;
}

std::int32_t VirtualInstrument::ConnectUsb(std::int32_t port) {
  return Connect(kUsbConnection, "USB port " + std::to_string(port));
}

std::int32_t VirtualInstrument::ConnectNetwork(const std::uint8_t* address4) {
  if (address4 == nullptr ||
      (address4[0] == 0 && address4[1] == 0 && address4[2] == 0 && address4[3] == 0)) {
    {
      std::lock_guard lock(mutex_);
      connected_ = false;
    }
    log_.Write(LogLevel::kError, "network connect refused: address 0.0.0.0");
    return kAddressRefusedCode;
  }
  const std::string address = std::to_string(address4[0]) + "." + std::to_string(address4[1]) +
                              "." + std::to_string(address4[2]) + "." + std::to_string(address4[3]);
  return Connect(kNetworkConnection, "network address " + address);
}

std::int32_t VirtualInstrument::Connect(std::uint8_t kind, const std::string& what) {
  log_.Write(LogLevel::kMessage, "connecting over " + what);
  std::unique_lock lock(mutex_);
  ++waitingCalls_;
  if (config_.faults.connectHang) {
    lock.unlock();
    log_.Write(LogLevel::kWarning, "connect hangs (injected fault)");
    lock.lock();
    changed_.wait(lock, [this] { return stopping_; });
  } else {
    changed_.wait_for(lock, std::chrono::milliseconds(config_.connectMs),
                      [this] { return stopping_; });
  }
  --waitingCalls_;
  if (stopping_) {
    changed_.notify_all();
    return kNotConnectedCode;
  }
  if (config_.faults.connectFail) {
    connected_ = false;
    const std::int32_t code = *config_.faults.connectFail;
    lock.unlock();
    log_.Write(LogLevel::kError, "connect over " + what + " failed with " + std::to_string(code) +
                                     " (injected fault)");
    return code;
  }
  connected_ = true;
  connectionKind_ = kind;
  notReadyLeft_ = config_.faults.notReadyCount;
  stateReadFailPending_ = true;
  lock.unlock();
  log_.Write(LogLevel::kMessage, "connected over " + what);
  return 0;
}

std::int32_t VirtualInstrument::GetState(Vexil::Device_Cpp::State& state) {
  std::unique_lock lock(mutex_);
  if (config_.faults.getStateFail) return *config_.faults.getStateFail;
  std::int32_t code = 0;
  std::uint8_t deviceState = kDeviceReady;
  if (connected_ && config_.faults.getStateFailFirst && stateReadFailPending_) {
    // A failing read that still claims readiness; it uses up no busy read.
    stateReadFailPending_ = false;
    code = *config_.faults.getStateFailFirst;
  } else if (!connected_) {
    deviceState = kDeviceNotConnected;
  } else if (config_.faults.notReadyAlways || notReadyLeft_ > 0) {
    if (notReadyLeft_ > 0) --notReadyLeft_;
    deviceState = kDeviceBusy;
  } else if (measuringJob_) {
    deviceState = kDeviceBusy;
  }
  const std::uint8_t kind = connected_ ? connectionKind_ : 0;
  lock.unlock();

  state.deviceState() = deviceState;
  state.connectionKind() = kind;
  state.batteryLevel() = 100;
  FillTime(state.time(), NowUtcMs());
  return code;
}

std::int32_t VirtualInstrument::DoJob(Vexil::Device_Cpp::IString& job) {
  const std::string id = ReadText(job);
  std::int32_t sampleCount = 0;
  std::optional<std::string> busyWith;
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return kNotConnectedCode;
    JobRecord* record = jobs_.Find(id);
    if (record == nullptr) {
      sampleCount = -1;
    } else if (measuringJob_) {
      busyWith = measuringJob_;
    } else {
      // A new measurement replaces the job's earlier readings.
      record->samples.assign(record->samples.size(), nullptr);
      record->stateCode = kJobMeasuring;
      sampleCount = record->sampleCount;
      measuringJob_ = id;
      measureRequested_ = true;
      ++runToken_;
      changed_.notify_all();
    }
  }
  if (sampleCount < 0) {
    log_.Write(LogLevel::kWarning, "cannot measure unknown job " + Quoted(id));
    return kUnknownJobCode;
  }
  if (busyWith) {
    log_.Write(LogLevel::kWarning,
               "cannot measure job " + Quoted(id) + ": job " + Quoted(*busyWith) + " is measuring");
    return kBusyCode;
  }
  log_.Write(LogLevel::kMessage,
             "measuring job " + Quoted(id) + " (" + std::to_string(sampleCount) + " samples)");
  Persist();
  return 0;
}

std::optional<std::string> VirtualInstrument::StopMeasurementLocked() {
  // Nothing runs and nothing waits for a run to end: no thread is woken, so
  // that a cancel at rest costs no hand-off to the measuring thread.
  if (!measuringJob_ && !measureRequested_) return std::nullopt;
  std::optional<std::string> stopped = std::move(measuringJob_);
  measuringJob_.reset();
  measureRequested_ = false;
  ++runToken_;
  if (stopped) {
    if (JobRecord* record = jobs_.Find(*stopped)) record->stateCode = IdleState(*record);
  }
  changed_.notify_all();
  return stopped;
}

std::int32_t VirtualInstrument::Cancel() {
  std::optional<std::string> stopped;
  std::size_t measured = 0, total = 0;
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return kNotConnectedCode;
    stopped = StopMeasurementLocked();
    if (stopped) {
      if (const JobRecord* record = jobs_.Find(*stopped)) {
        measured = MeasuredCount(*record);
        total = record->samples.size();
      }
    }
  }
  if (!stopped) {
    log_.Write(LogLevel::kMessage, "cancel: nothing is measuring");
    return 0;
  }
  log_.Write(LogLevel::kMessage, "measurement of job " + Quoted(*stopped) + " cancelled after " +
                                     std::to_string(measured) + " of " + std::to_string(total) +
                                     " samples");
  Persist();
  return 0;
}

void VirtualInstrument::MeasureLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || measureRequested_; });
    if (stopping_) return;
    measureRequested_ = false;
    const std::uint64_t token = runToken_;
    const JobRecord* record = measuringJob_ ? jobs_.Find(*measuringJob_) : nullptr;
    if (record == nullptr) continue;
    const std::string id = record->identifier;
    const std::string make = MakeOf(*record);
    const std::int32_t count = record->sampleCount;

    bool finished = true;
    for (std::int32_t i = 0; i < count; ++i) {
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(config_.sampleMs);
      lock.unlock();
      SamplePtr sample = MakeSample(id, make, i, config_.imagePx, NowUtcMs());
      lock.lock();
      changed_.wait_until(lock, deadline, [&] { return stopping_ || runToken_ != token; });
      if (stopping_ || runToken_ != token) {
        finished = false;
        break;
      }
      JobRecord* job = jobs_.Find(id);
      if (sample == nullptr || job == nullptr) {
        StopMeasurementLocked();
        lock.unlock();
        log_.Write(LogLevel::kError, "measurement of job " + Quoted(id) + " failed at sample " +
                                         std::to_string(i) + ": out of memory");
        Persist();
        lock.lock();
        finished = false;
        break;
      }
      job->samples[static_cast<std::size_t>(i)] = std::move(sample);
      lock.unlock();
      log_.Write(LogLevel::kMessage, "job " + Quoted(id) + ": sample " + std::to_string(i + 1) +
                                         " of " + std::to_string(count) + " measured");
      Persist();
      lock.lock();
    }
    if (!finished || stopping_ || runToken_ != token) continue;
    if (JobRecord* job = jobs_.Find(id)) job->stateCode = kJobMeasured;
    measuringJob_.reset();
    ++runToken_;
    lock.unlock();
    log_.Write(LogLevel::kMessage, "job " + Quoted(id) + " measured");
    Persist();
    lock.lock();
  }
}

std::int32_t VirtualInstrument::GetSample(
    Vexil::Device_Cpp::IString& job, std::int32_t sampleIndex,
    Vexil::Device_Cpp::IStringVector& imageChannels,
    Vexil::Device_Cpp::IStringVector& spectralChannels,
    Vexil::Device_Cpp::ImageChannelContentTypeVector& /*imageTypes: one EXR item per image*/,
    Vexil::Device_Cpp::SpectralChannelContentTypeVector& spectralTypes, std::int32_t /*option1*/,
    std::int32_t /*option2*/, Vexil::Device_Cpp::SampleInfo& info,
    Vexil::Device_Cpp::ImageContentVector& images,
    Vexil::Device_Cpp::SpectrumContentVector& spectra) {
  const std::string id = ReadText(job);
  SamplePtr sample;
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return kNotConnectedCode;
    stateReadFailPending_ = true;
    if (config_.faults.getSampleFail) return *config_.faults.getSampleFail;
    if (config_.faults.getSampleFailAt && config_.faults.getSampleFailAt->index == sampleIndex) {
      return config_.faults.getSampleFailAt->code;
    }
    const JobRecord* record = jobs_.Find(id);
    if (record == nullptr) return kUnknownJobCode;
    if (sampleIndex >= 0 && static_cast<std::size_t>(sampleIndex) < record->samples.size()) {
      sample = record->samples[static_cast<std::size_t>(sampleIndex)];
    }
  }
  if (sample == nullptr) {
    log_.Write(LogLevel::kWarning, "sample " + std::to_string(sampleIndex) + " of job " +
                                       Quoted(id) + " is not measured");
    return kSampleNotMeasuredCode;
  }
  const SampleRequest request = ReadSampleRequest(imageChannels, spectralChannels, spectralTypes);
  FillSampleInfo(info, sampleIndex, *sample);
  FillSpectra(spectra, *sample, request, config_.faults);
  FillImages(images, *sample, request);
  log_.Write(LogLevel::kMessage,
             "sample " + std::to_string(sampleIndex) + " of job " + Quoted(id) + " delivered");
  return 0;
}

std::int32_t VirtualInstrument::GetJobs(Vexil::Device_Cpp::JobInfoVector& jobs) {
  {
    // Filled under the lock from the records themselves: a copy of every
    // record would cost more than the measuring thread ever waits here.
    std::lock_guard lock(mutex_);
    if (!connected_) return kNotConnectedCode;
    const std::vector<JobRecord>& records = jobs_.Jobs();
    jobs.resize(static_cast<std::uint32_t>(records.size()));
    for (std::uint32_t i = 0; i < jobs.size() && i < records.size(); ++i) {
      FillJobInfo(jobs.at(i), records[i]);
    }
  }
  if (config_.faults.getJobsFail) {
    log_.Write(LogLevel::kWarning, "job list read fails (injected fault)");
    return *config_.faults.getJobsFail;
  }
  return 0;
}

std::int32_t VirtualInstrument::AddJob(Vexil::Device_Cpp::IJobDescription& job) {
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return kNotConnectedCode;
  }
  JobRecord record;
  std::string reason;
  if (const std::int32_t code = ReadJobDescription(job, record, reason); code != 0) {
    log_.Write(LogLevel::kWarning, "job not stored: " + reason);
    return code;
  }
  const std::string id = record.identifier;
  const std::string make = MakeOf(record);
  const std::int32_t count = record.sampleCount;
  std::optional<std::string> stopped;
  {
    std::lock_guard lock(mutex_);
    if (jobs_.Find(id) == nullptr && jobs_.Jobs().size() >= kMaxJobs) {
      reason = "memory full";
    } else {
      if (measuringJob_ == id) stopped = StopMeasurementLocked();
      jobs_.Put(std::move(record));
    }
  }
  if (!reason.empty()) {
    log_.Write(LogLevel::kWarning, "job " + Quoted(id) + " not stored: " + reason);
    return kInvalidJobCode;
  }
  if (stopped)
    log_.Write(LogLevel::kWarning, "measurement of job " + Quoted(id) + " stopped: job replaced");
  log_.Write(LogLevel::kMessage, "job " + Quoted(id) + " stored (make " + Quoted(make) + ", " +
                                     std::to_string(count) + " samples)");
  Persist();
  return 0;
}

std::int32_t VirtualInstrument::DeleteJob(Vexil::Device_Cpp::IString& job) {
  const std::string id = ReadText(job);
  std::optional<std::string> stopped;
  {
    std::lock_guard lock(mutex_);
    if (!connected_) return kNotConnectedCode;
    if (jobs_.Find(id) == nullptr) return kUnknownJobCode;
    if (measuringJob_ == id) stopped = StopMeasurementLocked();
    jobs_.Remove(id);
  }
  if (stopped)
    log_.Write(LogLevel::kWarning, "measurement of job " + Quoted(id) + " stopped: job deleted");
  log_.Write(LogLevel::kMessage, "job " + Quoted(id) + " deleted");
  Persist();
  return 0;
}

std::int32_t VirtualInstrument::GetLog(Vexil::Device_Cpp::IUintVector8& log) {
  const std::string text = log_.Contents();
  WriteBytes(log, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return 0;
}

std::int32_t VirtualInstrument::SendUserMessage(Vexil::Device_Cpp::IString32& text) {
  const std::u32string message = ReadText32(text);
  log_.Write(LogLevel::kMessage, "user message: " + colour::EncodeUtf8(message));
  return 0;
}

std::int32_t VirtualInstrument::CorrectExrImage(Vexil::Device_Cpp::IUintVector8& in,
                                                Vexil::Device_Cpp::IUintVector8& out,
                                                Vexil::Device_Cpp::IFloatVector& spectral) {
  if (config_.faults.correctFail) {
    log_.Write(LogLevel::kWarning, "image correction fails (injected fault)");
    return *config_.faults.correctFail;
  }
  const std::uint32_t valueCount = spectral.size();
  std::array<float, kSpectrumSize> values{};
  bool finite = valueCount >= kSpectrumSize;
  for (std::uint32_t i = 0; finite && i < kSpectrumSize; ++i) {
    values[i] = spectral.at(i);
    finite = std::isfinite(values[i]);
  }
  if (!finite) {
    log_.Write(LogLevel::kWarning, "image not corrected: need 31 finite spectral values, got " +
                                       std::to_string(valueCount) + " values");
    return kInvalidJobCode;
  }
  const std::uint32_t inputSize = in.size();
  const std::span<const std::uint8_t> input =
      inputSize == 0 ? std::span<const std::uint8_t>()
                     : std::span<const std::uint8_t>(&in.at(0), inputSize);
  std::vector<std::uint8_t> corrected;
  if (!colour::CorrectExr(input, values, corrected)) {
    log_.Write(LogLevel::kWarning, "image not corrected: " + std::to_string(input.size()) +
                                       " bytes are no decodable EXR image");
    return kImageNotDecodableCode;
  }
  WriteBytes(out, corrected.data(), corrected.size());
  if (config_.faults.correctWarn) {
    log_.Write(LogLevel::kWarning, "image corrected (" + std::to_string(corrected.size()) +
                                       " bytes), reported with a warning code (injected fault)");
    return *config_.faults.correctWarn;
  }
  log_.Write(LogLevel::kMessage,
             "image corrected (" + std::to_string(corrected.size()) + " bytes)");
  return 0;
}

}  // namespace instrument
