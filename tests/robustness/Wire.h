// Wire: a raw TCP client of the driver for the robustness suite. Unlike the
// protocol client it sends any bytes, half-closes or resets a connection on
// request, and can shrink its receive window so that an answer cannot be
// delivered at once.
//
// Every outcome is a value; nothing throws. Linux only (127.0.0.1).
//
// Threads: a Wire is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace robustness {

using Bytes = std::vector<std::uint8_t>;

struct WireFrame {
  std::uint32_t size = 0;
  std::uint64_t typeId = 0;  // all 64 bits of the header field
  Bytes body;
};

class Wire {
 public:
  Wire() = default;
  ~Wire();
  Wire(const Wire&) = delete;
  Wire& operator=(const Wire&) = delete;

  // Connects to 127.0.0.1:`port`, repeating refused attempts every
  // millisecond for up to `timeoutMs` (the driver listens again only after
  // it has dropped its previous client). `receiveBuffer` > 0 sets SO_RCVBUF
  // before the connect. Closes any previous connection first.
  bool Connect(std::uint16_t port, std::uint32_t timeoutMs, int receiveBuffer = 0);
  bool IsOpen() const { return fd_ >= 0; }

  // Sends every byte; false when the connection fails.
  bool Send(const Bytes& bytes);
  // Reads exactly `count` bytes unless the peer closes, the socket fails or
  // no byte comes for `timeoutMs`; returns what arrived.
  Bytes Read(std::size_t count, std::uint32_t timeoutMs);
  // One whole frame, or nullopt (closed, failed, or quiet for `timeoutMs`).
  std::optional<WireFrame> ReadFrame(std::uint32_t timeoutMs);

  // Waits up to `timeoutMs` for the peer to close or reset the connection,
  // discarding what arrives before; `bytesBefore` (optional) counts it. True
  // when the connection ended.
  bool WaitClosed(std::uint32_t timeoutMs, std::size_t* bytesBefore = nullptr);

  // Ends the sending direction (FIN); answers can still be read.
  void HalfClose();
  // Orderly close.
  void Close();
  // Abortive close: the peer gets a reset instead of a FIN.
  void Reset();

 private:
  int fd_ = -1;
};

// A frame: header (size, `reserved`, 64-bit `typeId`, little-endian) and body.
Bytes MakeFrame(std::uint64_t typeId, const Bytes& body, std::uint32_t reserved = 0);
// A header alone that announces `size` body bytes.
Bytes MakeHeader(std::uint32_t size, std::uint64_t typeId, std::uint32_t reserved = 0);
// Little-endian bytes of a 32-bit value.
Bytes Le32(std::uint32_t value);

}  // namespace robustness
