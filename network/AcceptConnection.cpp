#include "network/AcceptConnection.h"

#include <atomic>
#include <new>

#include "platform/Socket.h"
#include "platform/Time.h"

namespace Network {
namespace {

// Closes the listening socket on every way out (unless closed before).
struct Closer {
  Platform::SocketHandle socket;
  ~Closer() { Close(); }
  void Close() {
    if (socket != Platform::kInvalidSocket) Platform::CloseSocket(socket);
    socket = Platform::kInvalidSocket;
  }
};

AcceptStep FromListenStep(Platform::ListenStep step) {
  switch (step) {
    case Platform::ListenStep::Create:
      return AcceptStep::Create;
    case Platform::ListenStep::ReuseAddress:
      return AcceptStep::ReuseAddress;
    case Platform::ListenStep::Bind:
      return AcceptStep::Bind;
    case Platform::ListenStep::Listen:
      return AcceptStep::Listen;
    case Platform::ListenStep::None:
      break;
  }
  return AcceptStep::None;
}

}  // namespace

void InitializeSockets() {
  static std::atomic<bool> started{false};
  if (!started.exchange(true)) Platform::InitSocketLayer();
}

Connection* AcceptConnection(std::uint16_t port) { return AcceptConnection(port, nullptr); }

Connection* AcceptConnection(std::uint16_t port, AcceptFailure* failure) {
  return AcceptConnection(port, failure, &Platform::AcceptClient);
}

Connection* AcceptConnection(std::uint16_t port, AcceptFailure* failure,
                             AcceptClientFunction acceptClient) {
  AcceptFailure local;
  AcceptFailure& outcome = failure != nullptr ? *failure : local;
  outcome = AcceptFailure{};

  InitializeSockets();
  const Platform::ListenResult listening = Platform::OpenListeningSocket(port);
  if (listening.socket == Platform::kInvalidSocket) {
    outcome = {FromListenStep(listening.failedStep), listening.error};
    return nullptr;
  }
  Closer closer{listening.socket};

  Platform::SocketHandle client = Platform::kInvalidSocket;
  for (;;) {
    int error = 0;
    client = acceptClient(listening.socket, &error);
    if (client != Platform::kInvalidSocket) break;
    if (!Platform::IsTransientAcceptError(error)) {
      outcome = {AcceptStep::Accept, error};
      return nullptr;
    }
    // The failure concerned one incoming connection, or a shortage that
    // passes; the listener stays usable.
    Platform::SleepMs(kAcceptRetryPauseMs);
  }
  // At once: a client that connects while the listening socket is still open
  // waits in its queue, sends its request, and is reset when the socket
  // closes, without a byte read. Every step taken before the close (under
  // Wine each option is a round trip to the wine server) widens that window.
  closer.Close();
  // Both are best effort: a socket without them still serves its client.
  Platform::SetNoDelay(client, true);
  Platform::SetKeepAlive(client, {true, kKeepAliveIdleMs, kKeepAliveIntervalMs, kKeepAliveProbes});

  Connection* connection = new (std::nothrow) Connection(client);
  if (connection == nullptr) {
    Platform::CloseSocket(client);
    outcome = {AcceptStep::Allocate, 0};
  }
  return connection;
}

}  // namespace Network
