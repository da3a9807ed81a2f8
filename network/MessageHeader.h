// The 16-byte frame header that precedes every message body on the wire:
// body size (uint32), 4 reserved bytes, type id (uint64, only the low 32 bits
// count), all little-endian. Senders write the reserved bytes as zero;
// receivers ignore them and the high half of the type.
//
// Threads: plain values and pure functions.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Network {

static_assert(std::endian::native == std::endian::little,
              "the frame header is copied in host order, which must be little-endian");

struct MessageHeader {
  std::uint32_t size = 0;      // body bytes that follow the header
  std::uint32_t reserved = 0;  // ignored by receivers
  std::uint64_t type = 0;      // message type id; the low 32 bits count
};
static_assert(sizeof(MessageHeader) == 16, "the frame header is 16 bytes on the wire");

inline constexpr std::size_t kMessageHeaderSize = sizeof(MessageHeader);

// The type id a receiver dispatches on.
inline std::size_t DispatchType(const MessageHeader& header) {
  return static_cast<std::uint32_t>(header.type);
}

inline void WriteHeader(const MessageHeader& header, void* out16) {
  std::memcpy(out16, &header, sizeof header);
}

inline MessageHeader ReadHeader(const void* in16) {
  MessageHeader header;
  std::memcpy(&header, in16, sizeof header);
  return header;
}

}  // namespace Network
