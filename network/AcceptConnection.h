// Accepting one client: the server side of the network library.
//
// Threads: AcceptConnection blocks its caller until a client connects; it may
// run on any thread. InitializeSockets may be called from any thread.
#pragma once

#include <cstdint>

#include "network/Connection.h"
#include "platform/Socket.h"

namespace Network {

// Keepalive of accepted connections: a peer that vanishes without closing is
// detected after about 10 s + 5 x 2 s.
inline constexpr std::uint32_t kKeepAliveIdleMs = 10000;
inline constexpr std::uint32_t kKeepAliveIntervalMs = 2000;
inline constexpr std::uint32_t kKeepAliveProbes = 5;

// Starts the socket layer once per process (later calls do nothing). Its
// result is not examined: a layer that failed shows in the next socket call.
void InitializeSockets();

// Pause before the listening socket accepts again after a failed accept, so
// that a failure that persists does not spin a core.
inline constexpr std::uint32_t kAcceptRetryPauseMs = 10;

enum class AcceptStep { None, Create, ReuseAddress, Bind, Listen, Accept, Allocate };

struct AcceptFailure {
  AcceptStep step = AcceptStep::None;
  int error = 0;  // OS error code of the failed step (0 for Allocate)
};

// Listens on every IPv4 interface on `port`, waits for one client, stops
// listening and returns a new Connection owning the client's socket (blocking
// mode, TCP_NODELAY, keepalive as above). The caller owns the result and
// deletes it. An accept that fails for one incoming connection or for a
// passing shortage (Platform::IsTransientAcceptError: a connection reset
// before it was taken, no descriptors or memory for the moment) does not end
// the wait: the same listening socket accepts again after
// kAcceptRetryPauseMs. Null when the port cannot be listened on (for example
// held by another socket), the accept fails otherwise (AcceptStep::Accept:
// the listener itself is unusable; listening afresh may help) or the
// Connection cannot be allocated (the allocation itself reports code 3);
// nothing else is reported. With `failure` given, it tells which step failed.
Connection* AcceptConnection(std::uint16_t port);
Connection* AcceptConnection(std::uint16_t port, AcceptFailure* failure);

// The accept step, replaceable for tests: returns the connected socket or
// kInvalidSocket with `*error` set (Platform::AcceptClient).
using AcceptClientFunction = Platform::SocketHandle (*)(Platform::SocketHandle listener,
                                                        int* error);
Connection* AcceptConnection(std::uint16_t port, AcceptFailure* failure,
                             AcceptClientFunction acceptClient);

}  // namespace Network
