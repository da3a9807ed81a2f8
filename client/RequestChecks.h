// RequestChecks: what a client checks before it sends a request. The
// limits of what the instrument stores as a job, checked before anything is
// sent, so that a job the instrument would refuse is
// refused as bad input (exit 2) with the limit it breaks, and no request is
// sent that the driver would turn into a deletion of the stored job of the
// same name (the driver's add-job deletes first, then adds).
//
// The limits are the instrument's (the virtual instrument's refusals with
// code 3007): a name of 1 to 4096 bytes, a make of at most 4096 characters,
// 0 to 1000 samples, and at most 1000 jobs. vantorelctl also refuses 0
// samples: such a job measures nothing.
//
// Threads: constants and pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vantorel {

inline constexpr std::int64_t kMaxJobSamples = 1000;
inline constexpr std::size_t kMaxJobNameBytes = 4096;
inline constexpr std::size_t kMaxMakeCharacters = 4096;
inline constexpr std::size_t kMaxStoredJobs = 1000;

// Why the instrument would not store this job, or nothing when it would.
// `name` and `make` are UTF-8.
std::optional<std::string> JobDescriptionProblem(const std::string& name, const std::string& make,
                                                 std::int64_t samples);

// Why `index` is no sample index at all (negative, too large), or nothing.
std::optional<std::string> SampleIndexProblem(std::int64_t index);

// A strict dotted IPv4 address ("192.168.0.17": four decimal numbers
// 0..255, no spaces or signs, at most three digits each), as the network
// connect sends it.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(const std::string& text);

// "a job name of 1 to 4096 bytes, ...": the limits in one phrase.
std::string JobLimitsText();

}  // namespace vantorel
