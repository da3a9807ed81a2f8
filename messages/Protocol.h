// Constants that are part of the wire protocol between the driver and its
// clients. They are on the wire: never change them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Protocol {

// TCP port the driver listens on, on all IPv4 interfaces.
inline constexpr std::uint16_t kPort = 8889;

// Message type ids. A request and its answer travel under the same id, except
// the network connect request (7), which is answered under kUsbConnect (1).
inline constexpr std::size_t kUsbConnect = 1;
inline constexpr std::size_t kGetJobs = 2;
inline constexpr std::size_t kTerminate = 3;
inline constexpr std::size_t kDeleteJob = 4;
inline constexpr std::size_t kGetMeasure = 5;
inline constexpr std::size_t kGetSample = 6;
inline constexpr std::size_t kNetworkConnect = 7;
inline constexpr std::size_t kAddJob = 8;
inline constexpr std::size_t kDoJob = 9;
inline constexpr std::size_t kCancel = 10;
inline constexpr std::size_t kUserMessage = 11;
inline constexpr std::size_t kGetLog = 12;

// Size of the frame header that precedes every body.
inline constexpr std::size_t kHeaderSize = 16;

// Bodies up to this size share one receive buffer; larger ones get their own.
inline constexpr std::size_t kDefaultReceiveBufferSize = 33554432;

}  // namespace Protocol

// Result codes answered by the driver (signed 32-bit on the wire).
inline constexpr std::int32_t DeviceNotConnectedCode = 99999;
inline constexpr std::int32_t JobNotFoundCode = 1002;

// Answered to an add-job request whose name or make is not valid UTF-8; the
// device is not called then.
inline constexpr std::int32_t InvalidTextCode = 1003;
