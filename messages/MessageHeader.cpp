#include "messages/MessageHeader.h"

#include <cstring>

namespace Protocol {

std::vector<std::uint8_t> BuildHeader(std::uint32_t size, std::uint64_t type,
                                      std::uint32_t reserved) {
  std::vector<std::uint8_t> header(kHeaderSize);
  WriteHeader(MessageHeader{size, reserved, type}, header.data());
  return header;
}

std::vector<std::uint8_t> BuildFrame(std::uint64_t type, const std::uint8_t* body,
                                     std::size_t bodySize, std::uint32_t reserved) {
  std::vector<std::uint8_t> frame(kHeaderSize + bodySize);
  WriteHeader(MessageHeader{static_cast<std::uint32_t>(bodySize), reserved, type}, frame.data());
  if (bodySize != 0) std::memcpy(frame.data() + kHeaderSize, body, bodySize);
  return frame;
}

}  // namespace Protocol
