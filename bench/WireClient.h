// WireClient: the benchmarks' client side of one TCP connection: sends a
// request frame and reads the whole answer frame into a buffer that stays
// warm from exchange to exchange, so that the timings hold the transfer and
// the server's work, not the client's page faults.
//
// Threads: one thread per WireClient.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Socket.h"

namespace bench {

class WireClient {
 public:
  WireClient() = default;
  ~WireClient();
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;

  // Connects to 127.0.0.1:`port` with TCP_NODELAY, retrying refused
  // attempts for up to 10 s (a driver listens again a moment after its last
  // client left). Exits the program when that fails.
  void Connect(std::uint16_t port);
  // Sends `request` and reads one whole answer frame; returns its size
  // (header included). Exits the program when the connection fails.
  std::size_t Exchange(const std::vector<std::uint8_t>& request);
  // The same, timed: microseconds from the send to the answer's last byte.
  double TimedExchangeUs(const std::vector<std::uint8_t>& request);

 private:
  void ReadExactly(std::uint8_t* into, std::size_t count);

  Platform::SocketHandle socket_ = Platform::kInvalidSocket;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace bench
