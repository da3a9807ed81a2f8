#include "client/Frame.h"

#include <cstring>

namespace vantorel {
namespace {

void PutLittleEndian(std::uint8_t* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t GetLittleEndian(const std::uint8_t* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

}  // namespace

std::vector<std::uint8_t> BuildFrame(std::uint64_t type, const std::uint8_t* body,
                                     std::size_t bodySize) {
  std::vector<std::uint8_t> frame(Protocol::kHeaderSize + bodySize);
  PutLittleEndian(frame.data(), static_cast<std::uint32_t>(bodySize), 4);
  PutLittleEndian(frame.data() + 8, type, 8);
  if (bodySize != 0) std::memcpy(frame.data() + Protocol::kHeaderSize, body, bodySize);
  return frame;
}

FrameHeader ParseFrameHeader(const std::uint8_t* bytes) {
  FrameHeader header;
  header.size = static_cast<std::uint32_t>(GetLittleEndian(bytes, 4));
  header.type = GetLittleEndian(bytes + 8, 8);
  return header;
}

}  // namespace vantorel
