// LoopbackPeer: the raw TCP peer the benchmarks compare the driver with, run
// as a process of its own like the driver. It listens on an ephemeral
// loopback port and serves one client connection after the other: it reads
// `requestSize` bytes, answers them with `answer` (sent from a buffer that
// stays warm), and repeats until the client closes; then it accepts the next
// client. TCP_NODELAY is set, as on the driver's connections.
//
// Linux only. Threads: the child process is forked from the constructor
// (inheriting the caller's CPU placement); the destructor ends it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

class LoopbackPeer {
 public:
  LoopbackPeer(std::size_t requestSize, const std::vector<std::uint8_t>& answer);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  std::uint16_t Port() const { return port_; }

 private:
  std::uint16_t port_ = 0;
  pid_t child_ = -1;
};

}  // namespace bench
