// JobStates: the job states the driver reports in its job list, and their
// names as every client shows them.
//
// Threads: constants and a pure function.
#pragma once

#include <cstdint>
#include <string>

namespace vantorel {

inline constexpr std::uint32_t kJobStored = 0;
inline constexpr std::uint32_t kJobMeasuring = 1;
inline constexpr std::uint32_t kJobMeasured = 2;

// "stored", "measuring", "measured", or "state <n>" for another state.
inline std::string JobStateName(std::uint32_t state) {
  switch (state) {
    case kJobStored:
      return "stored";
    case kJobMeasuring:
      return "measuring";
    case kJobMeasured:
      return "measured";
    default:
      return "state " + std::to_string(state);
  }
}

}  // namespace vantorel
