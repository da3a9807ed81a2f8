#include "sim/instrument/ValueAccess.h"

#include <chrono>
#include <cstring>

#include "sim/instrument/JobStore.h"

namespace instrument {
namespace {

constexpr std::uint16_t kSpectrumKind = 0;
constexpr std::uint16_t kLabKind = 3;

bool TooLong(dv::IString& text) { return text.length() > kMaxTextBytes; }

}  // namespace

void FillTime(dv::ITime& time, std::int64_t utcMs) {
  using namespace std::chrono;
  const sys_time<milliseconds> at{milliseconds{utcMs}};
  const auto day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> clock{at - day};
  const int year = static_cast<int>(date.year()) - 2000;
  time.year() = static_cast<std::uint8_t>(year < 0 ? 0 : (year > 255 ? 255 : year));
  time.month() = static_cast<std::uint8_t>(static_cast<unsigned>(date.month()));
  time.day() = static_cast<std::uint8_t>(static_cast<unsigned>(date.day()));
  time.hour() = static_cast<std::uint8_t>(clock.hours().count());
  time.minute() = static_cast<std::uint8_t>(clock.minutes().count());
  time.second() = static_cast<std::uint8_t>(clock.seconds().count());
}

namespace {

// Selection of geometries by channel names (see ReadSampleRequest).
std::array<bool, kGeometryCount> SelectGeometries(dv::IStringVector& channels) {
  std::array<bool, kGeometryCount> selected{};
  const std::uint32_t count = channels.size();
  bool all = count == 0;
  for (std::uint32_t i = 0; i < count && !all; ++i) {
    const std::string name = ReadText(channels.at(i));
    if (name == "ALL") all = true;
    for (std::size_t g = 0; g < kGeometryCount; ++g) {
      if (name == kMeasurementGeometries[g].name) selected[g] = true;
    }
  }
  if (all) selected.fill(true);
  return selected;
}

void FillSpectralEntry(dv::SpectrumContent& entry, const char* name, std::size_t geometry,
                       const MeasuredSample& sample, const SampleRequest& request,
                       std::size_t itemCount) {
  entry.geometry().Set(name);
  dv::SpectralContentDataVector& items = entry.contents();
  items.resize(static_cast<std::uint32_t>(itemCount));
  const std::uint32_t filled = items.size();
  for (std::uint32_t k = 0; k < filled && k < request.kinds.size(); ++k) {
    dv::SpectralContentData& item = items.at(k);
    const auto [kind, variant] = request.kinds[k];
    item.channelType().contentKind() = kind;
    item.channelType().variant() = variant;
    if (kind == kSpectrumKind) {
      item.spectrum().description().firstWavelength() = 400;
      item.spectrum().description().wavelengthStep() = 10;
      WriteFloats(item.spectrum().values(), sample.spectra[geometry].data(), kSpectrumSize);
    } else {
      const auto& lab = sample.lab[geometry];
      item.lab().SetLab(lab[0], lab[1], lab[2]);
    }
  }
}

}  // namespace

std::string ReadText(dv::IString& text) {
  const char* content = text.c_str();
  if (content == nullptr) return {};
  return std::string(content, text.length());
}

std::u32string ReadText32(dv::IString32& text) {
  const char32_t* content = text.c_str();
  if (content == nullptr) return {};
  return std::u32string(content, text.length());
}

void WriteText(dv::IString& target, const std::string& text) { target.Set(text.c_str()); }

void WriteText32(dv::IString32& target, const std::u32string& text) { target.Set(text.c_str()); }

bool WriteBytes(dv::IUintVector8& target, const std::uint8_t* data, std::size_t size) {
  if (size > UINT32_MAX) return false;
  target.resize(static_cast<std::uint32_t>(size));
  if (target.size() != size) return false;
  if (size != 0) std::memcpy(&target.at(0), data, size);
  return true;
}

bool WriteFloats(dv::IFloatVector& target, const float* data, std::size_t size) {
  if (size > UINT32_MAX) return false;
  target.resize(static_cast<std::uint32_t>(size));
  if (target.size() != size) return false;
  if (size != 0) std::memcpy(&target.at(0), data, size * sizeof(float));
  return true;
}

std::vector<std::uint8_t> ReadBytes(dv::IUintVector8& source) {
  const std::uint32_t size = source.size();
  if (size == 0) return {};
  const std::uint8_t* first = &source.at(0);
  return std::vector<std::uint8_t>(first, first + size);
}

std::int32_t ReadJobDescription(dv::IJobDescription& description, JobRecord& job,
                                std::string& reason) {
  JobRecord read;
  read.version = description.version();
  if (TooLong(description.identifier())) {
    reason = "identifier longer than " + std::to_string(kMaxTextBytes) + " bytes";
    return kInvalidJobCode;
  }
  read.identifier = ReadText(description.identifier());
  if (read.identifier.empty() || read.identifier.find('\0') != std::string::npos) {
    reason = "empty identifier or one with a zero byte";
    return kInvalidJobCode;
  }
  read.sampleCount = description.sampleCount();
  if (read.sampleCount < 0 || read.sampleCount > kMaxSampleCount) {
    reason = "sample count " + std::to_string(read.sampleCount) + " outside 0.." +
             std::to_string(kMaxSampleCount);
    return kInvalidJobCode;
  }

  dv::ITagVector& tags = description.tags();
  dv::ITag32Vector& displayTags = description.displayTags();
  if (tags.size() > kMaxTags || displayTags.size() > kMaxTags) {
    reason = "more than " + std::to_string(kMaxTags) + " tags";
    return kInvalidJobCode;
  }
  for (std::uint32_t i = 0; i < tags.size(); ++i) {
    dv::Tag& tag = tags.at(i);
    if (TooLong(tag.name()) || TooLong(tag.value())) {
      reason = "tag text too long";
      return kInvalidJobCode;
    }
    read.tags.emplace_back(ReadText(tag.name()), ReadText(tag.value()));
  }
  for (std::uint32_t i = 0; i < displayTags.size(); ++i) {
    dv::Tag32& tag = displayTags.at(i);
    if (TooLong(tag.name()) || tag.value().length() > kMaxTextBytes) {
      reason = "display tag text too long";
      return kInvalidJobCode;
    }
    read.displayTags.emplace_back(ReadText(tag.name()), ReadText32(tag.value()));
  }
  if (TooLong(description.comment()) || TooLong(description.referenceName())) {
    reason = "comment or reference name too long";
    return kInvalidJobCode;
  }
  read.comment = ReadText(description.comment());
  read.referenceName = ReadText(description.referenceName());
  read.plannedSampleCount = description.plannedSampleCount();
  read.stateCode = kJobStored;
  read.samples.assign(static_cast<std::size_t>(read.sampleCount), nullptr);
  job = std::move(read);
  return 0;
}

void FillSampleInfo(dv::SampleInfo& info, std::int32_t sampleIndex, const MeasuredSample& sample) {
  info.sampleIndex() = sampleIndex;
  FillTime(info.time(), sample.measuredAtMs);
  info.temperature() = 23.0f;
  info.humidity() = 45.0f;
  info.supplyVoltage() = 5.0f;
  info.measureMode() = 0;
  info.quality() = 100;
  info.repeatCount() = 1;
  info.flags() = 0;
}

void FillJobInfo(dv::IJobInfo& info, const JobRecord& job) {
  dv::IJobDescription& description = info.description();
  description.version() = job.version;
  WriteText(description.identifier(), job.identifier);
  dv::ITagVector& tags = description.tags();
  tags.resize(static_cast<std::uint32_t>(job.tags.size()));
  for (std::uint32_t i = 0; i < tags.size() && i < job.tags.size(); ++i) {
    WriteText(tags.at(i).name(), job.tags[i].first);
    WriteText(tags.at(i).value(), job.tags[i].second);
  }
  dv::ITag32Vector& displayTags = description.displayTags();
  displayTags.resize(static_cast<std::uint32_t>(job.displayTags.size()));
  for (std::uint32_t i = 0; i < displayTags.size() && i < job.displayTags.size(); ++i) {
    WriteText(displayTags.at(i).name(), job.displayTags[i].first);
    WriteText32(displayTags.at(i).value(), job.displayTags[i].second);
  }
  description.sampleCount() = job.sampleCount;
  WriteText(description.comment(), job.comment);
  WriteText(description.referenceName(), job.referenceName);
  description.plannedSampleCount() = job.plannedSampleCount;

  const std::size_t measured = MeasuredCount(job);
  dv::ISampleInfoVector& samples = info.samples();
  samples.resize(static_cast<std::uint32_t>(measured));
  std::uint32_t next = 0;
  for (std::size_t i = 0; i < job.samples.size() && next < samples.size(); ++i) {
    if (job.samples[i])
      FillSampleInfo(samples.at(next++), static_cast<std::int32_t>(i), *job.samples[i]);
  }

  dv::MeasurementModeInfo& mode = info.modeInfo();
  mode.stateCode() = job.stateCode;
  mode.modeName().Set("MULTI_ANGLE");
  mode.measuredSamples() = static_cast<std::int32_t>(measured);
  mode.modeFlags() = 0;
  info.extraData().resize(0);
}

SampleRequest ReadSampleRequest(dv::IStringVector& imageChannels,
                                dv::IStringVector& spectralChannels,
                                dv::SpectralChannelContentTypeVector& spectralKinds) {
  SampleRequest request;
  request.spectral = SelectGeometries(spectralChannels);
  request.image = SelectGeometries(imageChannels);
  const std::uint32_t count = spectralKinds.size();
  for (std::uint32_t i = 0; i < count && request.kinds.size() < 8; ++i) {
    dv::SpectralChannelContentType& type = spectralKinds.at(i);
    const std::uint16_t kind = type.contentKind();
    if (kind == kSpectrumKind || kind == kLabKind) request.kinds.emplace_back(kind, type.variant());
  }
  if (count == 0) request.kinds = {{kSpectrumKind, 0}, {kLabKind, 0}};
  return request;
}

void FillSpectra(dv::SpectrumContentVector& spectra, const MeasuredSample& sample,
                 const SampleRequest& request, const Faults& faults) {
  std::vector<std::size_t> geometries;
  for (std::size_t g = 0; g < kGeometryCount; ++g) {
    if (request.spectral[g]) geometries.push_back(g);
  }
  if (faults.imagesOnly) geometries.clear();
  const std::size_t regular = geometries.size();
  // Extra entries after the regular ones: {name, geometry whose items it carries}.
  std::vector<std::pair<const char*, std::size_t>> extras;
  if (!faults.imagesOnly) {
    // A name the driver does not list: r15as15 with a trailing blank.
    if (faults.unlistedGeometry) extras.emplace_back("r15as15 ", 2);
    // A listed geometry named twice, the second time with other values.
    if (faults.duplicateGeometry) extras.emplace_back(kMeasurementGeometries[3].name, 10);
  }
  spectra.resize(static_cast<std::uint32_t>(regular + extras.size()));
  const std::size_t filled = spectra.size();
  for (std::size_t e = 0; e < filled; ++e) {
    std::size_t items = request.kinds.size();
    if (faults.shortContents && e + 1 == regular && items > 1) items = 1;
    const auto [name, geometry] =
        e < regular ? std::pair(kMeasurementGeometries[geometries[e]].name, geometries[e])
                    : extras[e - regular];
    FillSpectralEntry(spectra.at(static_cast<std::uint32_t>(e)), name, geometry, sample, request,
                      items);
  }
}

void FillImages(dv::ImageContentVector& images, const MeasuredSample& sample,
                const SampleRequest& request) {
  std::vector<std::size_t> selected;  // indices into kImageGeometries
  for (std::size_t i = 0; i < kImageCount; ++i) {
    if (request.image[kImageGeometries[i]]) selected.push_back(i);
  }
  images.resize(static_cast<std::uint32_t>(selected.size()));
  for (std::uint32_t e = 0; e < images.size() && e < selected.size(); ++e) {
    const std::size_t i = selected[e];
    dv::ImageContent& entry = images.at(e);
    entry.geometry().Set(kMeasurementGeometries[kImageGeometries[i]].name);
    dv::ImageContentDataVector& items = entry.contents();
    items.resize(1);
    if (items.size() != 1) continue;
    dv::ImageContentData& item = items.at(0);
    item.channelType() = 0;
    const std::vector<std::uint8_t>& exr = sample.exr[i];
    WriteBytes(item.exr().data(), exr.data(), exr.size());
    item.qcParameters().resize(0);
  }
}

}  // namespace instrument
