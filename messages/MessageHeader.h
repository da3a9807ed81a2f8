// MessageHeader: the 16-byte frame header that precedes every message body on
// the driver's connection, and the building of whole frames. This is the one
// codec of the frame: the network library, the client, the fakes, the fuzz
// targets, the benchmarks and the test clients all read and write frames
// through it.
//
// Layout, little-endian: body size (uint32), 4 reserved bytes, type id
// (uint64, of which only the low 32 bits count). Senders write the reserved
// bytes as zero; receivers ignore them and the high half of the type. The
// bytes are written and read one by one, so the codec does not depend on the
// host's byte order.
//
// Threads: plain values and pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "messages/Protocol.h"

namespace Protocol {

struct MessageHeader {
  std::uint32_t size = 0;      // body bytes that follow the header
  std::uint32_t reserved = 0;  // ignored by receivers
  std::uint64_t type = 0;      // message type id; the low 32 bits count
};

// Writes `header` into the kHeaderSize bytes at `out`.
inline void WriteHeader(const MessageHeader& header, std::uint8_t* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(header.size >> (8 * i));
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(header.reserved >> (8 * i));
  for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<std::uint8_t>(header.type >> (8 * i));
}

// Reads a header from the kHeaderSize bytes at `in`. Every bit pattern is a
// header: the caller checks the size and the type before it trusts them.
inline MessageHeader ReadHeader(const std::uint8_t* in) {
  MessageHeader header;
  for (int i = 3; i >= 0; --i) header.size = (header.size << 8) | in[i];
  for (int i = 7; i >= 4; --i) header.reserved = (header.reserved << 8) | in[i];
  for (int i = 15; i >= 8; --i) header.type = (header.type << 8) | in[i];
  return header;
}

// The type id a receiver dispatches on: the low 32 bits of the type field.
inline std::size_t DispatchType(const MessageHeader& header) {
  return static_cast<std::uint32_t>(header.type);
}

// The kHeaderSize bytes of a header that announces `size` body bytes.
std::vector<std::uint8_t> BuildHeader(std::uint32_t size, std::uint64_t type,
                                      std::uint32_t reserved = 0);

// A whole frame in one contiguous block: the header (size = bodySize, `type`
// with all 64 bits) and then the body, so that a sender can hand it to the
// socket in one send (two small sends in a row would stall on the
// receiver's delayed acknowledgement). Bodies longer than 4294967295 bytes
// cannot be framed; the caller keeps them out (nothing here checks).
std::vector<std::uint8_t> BuildFrame(std::uint64_t type, const std::uint8_t* body,
                                     std::size_t bodySize, std::uint32_t reserved = 0);
inline std::vector<std::uint8_t> BuildFrame(std::uint64_t type,
                                            const std::vector<std::uint8_t>& body,
                                            std::uint32_t reserved = 0) {
  return BuildFrame(type, body.data(), body.size(), reserved);
}

}  // namespace Protocol
