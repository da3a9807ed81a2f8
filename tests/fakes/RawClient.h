// RawClient: the raw TCP client of the driver shared by the integration and
// robustness suites, the harness's probes and the benchmarks, and the wire
// end of the client tests' fake driver. Unlike the
// protocol client it sends any bytes, reads exactly as many as it is asked
// for, half-closes or resets a connection on request, and can shrink its
// receive window so that an answer cannot be delivered at once. Frames are
// read with the protocol's own header codec. Listener holds a port busy.
//
// Everything talks to 127.0.0.1 through the platform layer and reports its
// outcome as a value; nothing throws. OS error codes are the platform's
// (errno on POSIX).
//
// Threads: a RawClient or Listener is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Socket.h"

// One frame as it arrived.
struct WireFrame {
  std::uint32_t size = 0;
  std::uint64_t typeId = 0;  // all 64 bits of the header's field
  std::vector<std::uint8_t> body;
};

class RawClient {
 public:
  RawClient() = default;
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // One attempt to connect to 127.0.0.1:`port` (TCP_NODELAY on), closing
  // any previous connection first. 0 on success, otherwise the OS error of
  // the connect (ECONNREFUSED when nothing listens, a time-out code after
  // `timeoutMs`). `receiveBuffer` > 0 sets the receive buffer before the
  // connect.
  int Connect(std::uint16_t port, std::uint32_t timeoutMs, int receiveBuffer = 0);
  // Connect, repeating refused attempts every millisecond for up to
  // `patienceMs` (the driver listens again only after it has dropped its
  // previous client). True when connected.
  bool ConnectWithin(std::uint16_t port, std::uint32_t patienceMs, int receiveBuffer = 0);
  // Takes over a connected socket (a fake server's accepted one) and closes
  // it when done; any previous connection is closed first.
  void Adopt(Platform::SocketHandle connected);
  bool IsOpen() const { return socket_ != Platform::kInvalidSocket; }

  // Sends every byte, however slowly the peer takes them; false when the
  // connection fails.
  bool Send(const std::vector<std::uint8_t>& bytes);
  // Reads until `count` bytes arrived, the peer closed, the socket failed,
  // or no byte came for `timeoutMs`. Returns what arrived (fewer on any of
  // the three outcomes).
  std::vector<std::uint8_t> Read(std::size_t count, std::uint32_t timeoutMs);
  // One whole frame, or nullopt (closed, failed, or quiet for `timeoutMs`
  // between two bytes).
  std::optional<WireFrame> ReadFrame(std::uint32_t timeoutMs);

  enum class Next { Data, Closed, Nothing };
  // What the peer does within `timeoutMs`: sends a byte (Data; the byte is
  // kept for the next Read), closes or resets the connection (Closed), or
  // nothing.
  Next WaitNext(std::uint32_t timeoutMs);
  // Waits up to `timeoutMs` for the peer to close or reset the connection,
  // discarding what arrives before; `bytesBefore` (optional) counts it. True
  // when the connection ended.
  bool WaitClosed(std::uint32_t timeoutMs, std::size_t* bytesBefore = nullptr);

  // Ends the sending direction (FIN); answers can still be read.
  void HalfClose();
  // Orderly close.
  void Close();
  // Abortive close: the peer receives a reset instead of a FIN.
  void Reset();

 private:
  Platform::SocketHandle socket_ = Platform::kInvalidSocket;
  std::vector<std::uint8_t> kept_;  // the byte WaitNext took, not yet read
};

// A listening socket on all IPv4 interfaces, to hold a port busy.
class Listener {
 public:
  Listener() = default;
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  // 0 on success, else the OS error of the failed step.
  int Listen(std::uint16_t port);

 private:
  Platform::SocketHandle socket_ = Platform::kInvalidSocket;
};

// Little-endian bytes of a 32-bit value, for spelling out bodies.
std::vector<std::uint8_t> Le32(std::uint32_t value);
