#include "sim/instrument/SimConfig.h"

#include <charconv>
#include <cstdlib>

namespace instrument {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<std::int32_t> ParseCode(std::string_view text) {
  const auto value = ParseInteger(text, INT32_MIN, INT32_MAX);
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

// Handles "<prefix><code>" words such as "getjobs=fail:12"; true when `word`
// starts with `prefix`.
bool ParseCodeWord(std::string_view word, std::string_view prefix,
                   std::optional<std::int32_t>& target, std::vector<std::string>& warnings) {
  if (word.substr(0, prefix.size()) != prefix) return false;
  const auto code = ParseCode(word.substr(prefix.size()));
  if (code) {
    target = code;
  } else {
    warnings.push_back("fault '" + std::string(word) + "' has no valid code; ignored");
  }
  return true;
}

}  // namespace

std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min,
                                         std::int64_t max) {
  text = Trim(text);
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

void ParseFaults(std::string_view list, Faults& faults, std::vector<std::string>& warnings) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view word = Trim(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (word.empty()) continue;

    if (word == "connect=hang") {
      faults.connectHang = true;
    } else if (word == "geometry=unlisted") {
      faults.unlistedGeometry = true;
    } else if (word == "contents=short") {
      faults.shortContents = true;
    } else if (word == "getstate=notready:always") {
      faults.notReadyAlways = true;
    } else if (word.substr(0, 18) == "getstate=notready:") {
      const auto n = ParseInteger(word.substr(18), 0, UINT32_MAX);
      if (n) {
        faults.notReadyCount = static_cast<std::uint32_t>(*n);
      } else {
        warnings.push_back("fault '" + std::string(word) + "' has no valid count; ignored");
      }
    } else if (word == "geometry=duplicate") {
      faults.duplicateGeometry = true;
    } else if (word == "contents=images-only") {
      faults.imagesOnly = true;
    } else if (word.substr(0, 18) == "getsample=fail-at:") {
      // <index>:<code>
      const std::string_view rest = word.substr(18);
      const std::size_t colon = rest.find(':');
      const auto index = ParseInteger(rest.substr(0, colon), 0, INT32_MAX);
      const auto code =
          colon == std::string_view::npos ? std::nullopt : ParseCode(rest.substr(colon + 1));
      if (index && code) {
        faults.getSampleFailAt = Faults::SampleFailure{static_cast<std::int32_t>(*index), *code};
      } else {
        warnings.push_back("fault '" + std::string(word) +
                           "' needs <index>:<code> (index 0 or more); ignored");
      }
    } else if (ParseCodeWord(word, "connect=fail:", faults.connectFail, warnings) ||
               ParseCodeWord(word, "getstate=fail:", faults.getStateFail, warnings) ||
               ParseCodeWord(word, "getstate=fail-first:", faults.getStateFailFirst, warnings) ||
               ParseCodeWord(word, "getsample=fail:", faults.getSampleFail, warnings) ||
               ParseCodeWord(word, "getjobs=fail:", faults.getJobsFail, warnings) ||
               ParseCodeWord(word, "correct=fail:", faults.correctFail, warnings) ||
               ParseCodeWord(word, "correct=warn:", faults.correctWarn, warnings)) {
      // handled
    } else {
      warnings.push_back("unknown fault '" + std::string(word) + "' ignored");
    }
  }
}

SimConfig ConfigFromEnvironment() {
  SimConfig config;
  const auto readDelay = [&config](const char* name, std::uint32_t& target) {
    const char* text = std::getenv(name);
    if (text == nullptr) return;
    const auto value = ParseInteger(text, 0, kMaxDelayMs);
    if (value) {
      target = static_cast<std::uint32_t>(*value);
    } else {
      config.warnings.push_back(std::string(name) + " '" + text + "' is not a number of ms in 0.." +
                                std::to_string(kMaxDelayMs) + "; default kept");
    }
  };
  readDelay("VANTOREL_SIM_CONNECT_MS", config.connectMs);
  readDelay("VANTOREL_SIM_SAMPLE_MS", config.sampleMs);

  if (const char* text = std::getenv("VANTOREL_SIM_IMAGE_PX")) {
    const auto value = ParseInteger(text, kMinImagePx, kMaxImagePx);
    if (value) {
      config.imagePx = static_cast<int>(*value);
    } else {
      config.warnings.push_back(std::string("VANTOREL_SIM_IMAGE_PX '") + text +
                                "' is not a side in " + std::to_string(kMinImagePx) + ".." +
                                std::to_string(kMaxImagePx) + "; default kept");
    }
  }
  if (const char* text = std::getenv("VANTOREL_SIM_STORE")) config.storePath = text;
  if (const char* text = std::getenv("VANTOREL_SIM_FAULTS")) {
    ParseFaults(text, config.faults, config.warnings);
  }
  return config;
}

}  // namespace instrument
