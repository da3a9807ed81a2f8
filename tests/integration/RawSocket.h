// RawSocket: a plain TCP client for the integration tests' byte-exact checks
// and for the harness's probes; Listener holds a port busy.
//
// Everything here talks to 127.0.0.1 and reports outcomes as values; nothing
// throws. Linux only.
//
// Threads: a RawSocket or Listener is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace integration {

// The 16-byte frame header (size, 4 zero bytes, 64-bit type id, little-endian)
// followed by `body`.
std::vector<std::uint8_t> Frame(std::uint64_t typeId, const std::vector<std::uint8_t>& body);

// Little-endian bytes of a 32-bit value.
std::vector<std::uint8_t> Le32(std::uint32_t value);

class RawSocket {
 public:
  RawSocket() = default;
  ~RawSocket();
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  // Connects to 127.0.0.1:`port` (TCP_NODELAY on). 0 on success, otherwise
  // the errno of the failed connect (ECONNREFUSED when nothing listens,
  // ETIMEDOUT after `timeoutMs`).
  int Connect(std::uint16_t port, std::uint32_t timeoutMs);
  bool IsOpen() const { return fd_ >= 0; }

  // Sends every byte; false when the socket fails.
  bool SendAll(const std::vector<std::uint8_t>& bytes);
  // Reads until `count` bytes arrived, the peer closed, the socket failed, or
  // no byte came for `timeoutMs`. Returns what arrived (fewer on any of the
  // three outcomes).
  std::vector<std::uint8_t> Read(std::size_t count, std::uint32_t timeoutMs);

  enum class Next { Data, Closed, Nothing };
  // What the peer does within `timeoutMs`: sends a byte (Data; the byte is
  // left unread), closes or resets the connection (Closed), or nothing.
  Next WaitNext(std::uint32_t timeoutMs);

  // Orderly close (FIN).
  void Close();
  // Abortive close: SO_LINGER with time 0, then close, so the peer receives a
  // reset instead of an orderly shutdown.
  void Reset();

 private:
  int fd_ = -1;
};

// A listening socket on all IPv4 interfaces, to hold a port busy.
class Listener {
 public:
  Listener() = default;
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  // 0 on success, else the errno of the failed step.
  int Listen(std::uint16_t port);

 private:
  int fd_ = -1;
};

}  // namespace integration
