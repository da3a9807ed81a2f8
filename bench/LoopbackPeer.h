// LoopbackPeer: the raw TCP peer the benchmarks compare the driver with, run
// as a process of its own like the driver. It listens on an ephemeral
// loopback port and serves one client connection after the other: it reads
// whole request frames (16-byte header: body size, 4 bytes, 8-byte type id;
// then the body), answers each with the bytes given for its type id (sent
// from a buffer that stays warm; a type without an answer ends the
// connection), and repeats until the client closes; then it accepts the next
// client. TCP_NODELAY is set, as on the driver's connections.
//
// Linux only. Threads: the child process is forked from the constructor
// (inheriting the caller's CPU placement); the destructor ends it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <vector>

namespace bench {

class LoopbackPeer {
 public:
  using Answers = std::map<std::uint64_t, std::vector<std::uint8_t>>;  // by request type id

  explicit LoopbackPeer(const Answers& answers);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  std::uint16_t Port() const { return port_; }

 private:
  std::uint16_t port_ = 0;
  pid_t child_ = -1;
};

}  // namespace bench
