#include "client/RequestChecks.h"

#include "colour/Utf8.h"

namespace vantorel {

std::optional<std::string> JobDescriptionProblem(const std::string& name, const std::string& make,
                                                 std::int64_t samples) {
  if (name.empty()) return "the job name is empty; give a name of 1 to 4096 bytes";
  if (name.size() > kMaxJobNameBytes) {
    return "the job name has " + std::to_string(name.size()) +
           " bytes; the instrument stores names of 1 to 4096 bytes";
  }
  std::u32string text;
  if (!colour::DecodeUtf8(name, text)) return "the job name is not valid UTF-8";
  if (!colour::DecodeUtf8(make, text)) return "the make is not valid UTF-8";
  if (text.size() > kMaxMakeCharacters) {
    return "the make has " + std::to_string(text.size()) +
           " characters; the instrument stores makes of at most 4096";
  }
  if (samples == 0) {
    return "--samples 0: a job of no samples measures nothing; give 1 to 1000 samples";
  }
  if (samples < 0 || samples > kMaxJobSamples) {
    return "--samples " + std::to_string(samples) + ": the instrument measures 1 to 1000 samples";
  }
  return std::nullopt;
}

std::optional<std::string> SampleIndexProblem(std::int64_t index) {
  if (index < 0) {
    return "sample index " + std::to_string(index) + ": samples are numbered from 0";
  }
  if (index >= kMaxJobSamples) {
    return "sample index " + std::to_string(index) +
           ": a job has at most 1000 samples, numbered 0 to 999";
  }
  return std::nullopt;
}

std::string JobLimitsText() {
  return "a job name of 1 to 4096 bytes, a make of at most 4096 characters, 1 to 1000 samples, "
         "at most 1000 jobs";
}

std::optional<std::array<std::uint8_t, 4>> ParseIpv4(const std::string& text) {
  std::array<std::uint8_t, 4> address{};
  std::size_t position = 0;
  for (std::size_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (position >= text.size() || text[position] != '.') return std::nullopt;
      ++position;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
      if (++digits > 3) return std::nullopt;
      value = value * 10 + static_cast<unsigned>(text[position] - '0');
      ++position;
    }
    if (digits == 0 || value > 255) return std::nullopt;
    address[part] = static_cast<std::uint8_t>(value);
  }
  if (position != text.size()) return std::nullopt;
  return address;
}

}  // namespace vantorel
