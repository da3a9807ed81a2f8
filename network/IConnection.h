// The byte-stream interface of a client connection.
//
// Everything above the socket (the framing and dispatch of Connection) reaches
// the stream through these virtual operations, so that a test double or
// another transport can stand in for a socket.
//
// Threads: an implementation is used by one thread at a time unless it says
// otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Network {

// Millisecond time-out meaning "no limit".
inline constexpr std::uint32_t kNoTimeout = 0xFFFFFFFFu;

// What State waits for. Values other than these query nothing.
enum class StateQuery : std::int32_t {
  Read = 0,    // readable (data, or the peer has closed)
  Write = 1,   // writable
  Except = 2,  // exceptional condition pending
};

class IConnection {
 public:
  virtual ~IConnection() = default;

  // Waits up to `timeoutMs` until the stream is ready in the asked sense.
  // True when ready; false on time-out, on failure (reported) and for an
  // unknown query (nothing is called then).
  virtual bool State(StateQuery which, std::uint32_t timeoutMs) = 0;

  // Hands all `count` bytes to the stream. Between partial passes it pauses
  // 5 ms and gives up once the pauses exceed `timeoutMs` (kNoTimeout: never).
  // True only when every byte was handed over; 0 bytes: true at once.
  virtual bool Send(const void* data, std::size_t count, std::uint32_t timeoutMs) = 0;

  // Fills `buffer` with up to `count` bytes, pausing 5 ms between partial
  // passes until the pauses exceed `timeoutMs`. Returns the bytes stored; a
  // short count means the time-out ran out, the peer closed the stream (not
  // reported) or the stream failed (reported).
  virtual std::size_t Receive(void* buffer, std::size_t count, std::uint32_t timeoutMs) = 0;
};

}  // namespace Network
