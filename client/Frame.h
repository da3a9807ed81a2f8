// Frame: building and reading the 16-byte frame header that precedes every
// body on the driver's connection (body size, 4 reserved bytes, 64-bit type
// id; all little-endian).
//
// A whole frame is built into one contiguous byte vector so that the sender
// hands header and body to the socket in one send: two small sends in a row
// would stall on the receiver's delayed acknowledgement.
//
// Threads: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "messages/Protocol.h"

namespace vantorel {

struct FrameHeader {
  std::uint32_t size = 0;  // body bytes that follow the header
  std::uint64_t type = 0;  // type id; receivers look at the low 32 bits only
};

// The frame for `body`: header with size = body.size(), reserved bytes zero,
// `type` as 8 bytes, then the body. Bodies longer than 4294967295 bytes
// cannot be framed; the caller keeps them out (nothing here checks).
std::vector<std::uint8_t> BuildFrame(std::uint64_t type, const std::uint8_t* body,
                                     std::size_t bodySize);
inline std::vector<std::uint8_t> BuildFrame(std::uint64_t type,
                                            const std::vector<std::uint8_t>& body) {
  return BuildFrame(type, body.data(), body.size());
}

// Reads a header from exactly Protocol::kHeaderSize bytes.
FrameHeader ParseFrameHeader(const std::uint8_t* bytes);

}  // namespace vantorel
