// Accepting one client: the server side of the network library.
//
// Threads: AcceptConnection blocks its caller until a client connects; it may
// run on any thread. InitializeSockets may be called from any thread.
#pragma once

#include <cstdint>

#include "network/Connection.h"

namespace Network {

// Keepalive of accepted connections: a peer that vanishes without closing is
// detected after about 10 s + 5 x 2 s.
inline constexpr std::uint32_t kKeepAliveIdleMs = 10000;
inline constexpr std::uint32_t kKeepAliveIntervalMs = 2000;
inline constexpr std::uint32_t kKeepAliveProbes = 5;

// Starts the socket layer once per process (later calls do nothing). Its
// result is not examined: a layer that failed shows in the next socket call.
void InitializeSockets();

enum class AcceptStep { None, Create, ReuseAddress, Bind, Listen, Accept, Allocate };

struct AcceptFailure {
  AcceptStep step = AcceptStep::None;
  int error = 0;  // OS error code of the failed step (0 for Allocate)
};

// Listens on every IPv4 interface on `port`, waits for one client, stops
// listening and returns a new Connection owning the client's socket (blocking
// mode, TCP_NODELAY, keepalive as above). The caller owns the result and
// deletes it. Null when the port cannot be listened on (for example held by
// another socket), the accept fails or the Connection cannot be allocated
// (the allocation itself reports code 3); nothing else is reported. With
// `failure` given, it tells which step failed.
Connection* AcceptConnection(std::uint16_t port);
Connection* AcceptConnection(std::uint16_t port, AcceptFailure* failure);

}  // namespace Network
