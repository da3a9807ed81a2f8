// Result codes of the virtual instrument module (Vantorel_Cpp).
//
// Every DeviceInterface operation returns 0 on success or one of these codes.
// They are fixed for the whole project: the client tools print a text for
// each of them, so a value never changes meaning. Codes injected through
// VANTOREL_SIM_FAULTS are returned as given and may be any value.
//
// Threads: constants only.
#pragma once

#include <cstdint>

namespace instrument {

// DoJob, Cancel, GetJobs, AddJob, DeleteJob and GetSample before a successful
// connect (or after a failed one). GetState does not use it: it succeeds and
// reports deviceState 0 instead.
inline constexpr std::int32_t kNotConnectedCode = 3001;
// DoJob, DeleteJob or GetSample name a job the instrument does not hold.
inline constexpr std::int32_t kUnknownJobCode = 3002;
// ConnectNetwork was given the address 0.0.0.0 (or no address at all).
inline constexpr std::int32_t kAddressRefusedCode = 3003;
// GetSample asks for a sample that has not been measured, or for an index
// outside the job's sample count.
inline constexpr std::int32_t kSampleNotMeasuredCode = 3004;
// DoJob while a job is measuring.
inline constexpr std::int32_t kBusyCode = 3005;
// CorrectExrImage could not decode its input image.
inline constexpr std::int32_t kImageNotDecodableCode = 3006;
// AddJob with a description the instrument cannot store: empty or over-long
// identifier, sample count outside 0..kMaxSampleCount, too many or over-long
// tags, or a full job memory. CorrectExrImage also answers it when fewer than
// 31 spectral values are given.
inline constexpr std::int32_t kInvalidJobCode = 3007;

// Job state codes listed by GetJobs.
inline constexpr std::int32_t kJobMeasuring = 2000;
inline constexpr std::int32_t kJobStored = 2001;
inline constexpr std::int32_t kJobMeasured = 2004;

// deviceState values reported by GetState.
inline constexpr std::uint8_t kDeviceNotConnected = 0;
inline constexpr std::uint8_t kDeviceBusy = 1;
inline constexpr std::uint8_t kDeviceReady = 2;

}  // namespace instrument
