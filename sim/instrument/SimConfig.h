// Configuration of the virtual instrument: timings, image size, the store file
// and the injected faults, read from the environment once when the module is
// first asked for its interface (tests build a SimConfig directly).
//
// Parsing never fails: a malformed value keeps its default and produces a
// warning text for the module's log, because the module has no other channel
// to report configuration mistakes.
//
// Threads: plain values; the parsing functions are pure (ConfigFromEnvironment
// reads the process environment, which nobody writes after start-up).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace instrument {

// Faults injected through VANTOREL_SIM_FAULTS (comma-separated words).
struct Faults {
  std::optional<std::int32_t> connectFail;   // connect=fail:<code>
  bool connectHang = false;                  // connect=hang
  std::optional<std::int32_t> getStateFail;  // getstate=fail:<code>
  // getstate=notready:<n|always>: the first n GetState calls after each
  // successful connect report deviceState 1 (busy).
  std::uint32_t notReadyCount = 0;
  bool notReadyAlways = false;
  // getstate=fail-first:<code>: the first GetState after a connect and after
  // each GetSample returns the code yet reports deviceState 2 (ready).
  std::optional<std::int32_t> getStateFailFirst;
  std::optional<std::int32_t> getSampleFail;  // getsample=fail:<code>
  // getsample=fail-at:<index>:<code>: only the sample of that index fails.
  struct SampleFailure {
    std::int32_t index = 0;
    std::int32_t code = 0;
  };
  std::optional<SampleFailure> getSampleFailAt;
  std::optional<std::int32_t> getJobsFail;  // getjobs=fail:<code>
  bool unlistedGeometry = false;            // geometry=unlisted
  bool duplicateGeometry = false;           // geometry=duplicate
  bool shortContents = false;               // contents=short
  bool imagesOnly = false;                  // contents=images-only
  // correct=fail:<code>: CorrectExrImage returns the code and no image.
  std::optional<std::int32_t> correctFail;
  // correct=warn:<code>: CorrectExrImage returns the code with the corrected
  // image.
  std::optional<std::int32_t> correctWarn;
};

struct SimConfig {
  std::uint32_t connectMs = 300;  // VANTOREL_SIM_CONNECT_MS
  std::uint32_t sampleMs = 200;   // VANTOREL_SIM_SAMPLE_MS
  int imagePx = 256;              // VANTOREL_SIM_IMAGE_PX (square side)
  std::string storePath;          // VANTOREL_SIM_STORE; empty: nothing persists
  Faults faults;                  // VANTOREL_SIM_FAULTS
  // Problems met while reading the configuration, one text each; the
  // instrument writes them to its log as warnings.
  std::vector<std::string> warnings;
};

inline constexpr std::uint32_t kMaxDelayMs = 600000;
inline constexpr int kMinImagePx = 4;
inline constexpr int kMaxImagePx = 4096;

// Adds the faults named in `list` to `faults`. Words are trimmed of blanks;
// empty words are skipped; an unknown word or a malformed code is ignored and
// described in `warnings`. Codes are decimal, optionally negative, within
// the 32-bit range.
void ParseFaults(std::string_view list, Faults& faults, std::vector<std::string>& warnings);

// Reads a whole decimal number in [min, max]; nullopt for anything else.
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max);

// The configuration given by the VANTOREL_SIM_* environment variables, with
// the defaults above for unset ones.
SimConfig ConfigFromEnvironment();

}  // namespace instrument
