// POSIX sockets (Linux). Descriptors are stored in SocketHandle as is.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <type_traits>

#include "platform/GatherCursor.h"
#include "platform/Time.h"

namespace Platform {
namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

SocketHandle Handle(int fd) { return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd); }

bool IsWouldBlock(int error) { return error == EWOULDBLOCK || error == EAGAIN; }

bool SetIntOption(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

bool GetIntOption(int fd, int level, int name, int& value) {
  socklen_t length = sizeof value;
  return getsockopt(fd, level, name, &value, &length) == 0;
}

// poll() with a 32-bit millisecond time-out that may exceed INT_MAX, and
// with interruptions by signals absorbed.
WaitResult PollFor(int fd, short events, std::uint32_t timeoutMs) {
  const std::uint64_t start = TickCountMs();
  for (;;) {
    int wait = -1;
    if (timeoutMs != kWaitForever) {
      const std::uint64_t spent = TickCountMs() - start;
      const std::uint64_t left = spent >= timeoutMs ? 0 : timeoutMs - spent;
      wait = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    pollfd entry{fd, events, 0};
    const int result = poll(&entry, 1, wait);
    if (result > 0) {
      if (entry.revents & POLLNVAL) return {WaitStatus::Failed, EBADF};
      return {WaitStatus::Ready, 0};
    }
    if (result < 0) {
      if (errno == EINTR) continue;
      return {WaitStatus::Failed, errno};
    }
    if (wait != INT_MAX) return {WaitStatus::TimedOut, 0};
  }
}

}  // namespace

bool InitSocketLayer() { return true; }

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) close(Fd(socket));
}

void ResetSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  const linger abortive{1, 0};
  setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  close(Fd(socket));
}

bool ShutdownSend(SocketHandle socket) { return shutdown(Fd(socket), SHUT_WR) == 0; }

IoResult SendSome(SocketHandle socket, const void* data, std::size_t count) {
  for (;;) {
    const ssize_t sent = send(Fd(socket), data, count, MSG_NOSIGNAL);
    if (sent >= 0) return {IoStatus::Transferred, static_cast<std::size_t>(sent), 0};
    if (errno == EINTR) continue;
    if (IsWouldBlock(errno)) return {IoStatus::WouldBlock, 0, 0};
    return {IoStatus::Failed, 0, errno};
  }
}

IoResult ReceiveSome(SocketHandle socket, void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t got = recv(Fd(socket), buffer, count, 0);
    if (got > 0) return {IoStatus::Transferred, static_cast<std::size_t>(got), 0};
    if (got == 0) return {IoStatus::PeerClosed, 0, 0};
    if (errno == EINTR) continue;
    if (IsWouldBlock(errno)) return {IoStatus::WouldBlock, 0, 0};
    return {IoStatus::Failed, 0, errno};
  }
}

IoResult ReceiveSomeNow(SocketHandle socket, void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t got = recv(Fd(socket), buffer, count, MSG_DONTWAIT);
    if (got > 0) return {IoStatus::Transferred, static_cast<std::size_t>(got), 0};
    if (got == 0) return {IoStatus::PeerClosed, 0, 0};
    if (errno == EINTR) continue;
    if (IsWouldBlock(errno)) return {IoStatus::WouldBlock, 0, 0};
    return {IoStatus::Failed, 0, errno};
  }
}

// Every call passes MSG_DONTWAIT: the socket's own mode is never touched.
SendOutcome SendAllWithin(SocketHandle socket, const ConstBuffer* parts, std::size_t partCount,
                          std::uint32_t stallLimitMs, SocketMode /*mode*/) {
  // Blocks per call: within every system's IOV_MAX.
  constexpr std::size_t kMaxBlocks = 64;
  // While the peer's window is shut the wait is sliced, so that bytes the
  // peer takes from the send queue count as progress even before there is
  // room for the next call (POLLOUT waits for a good part of the buffer).
  constexpr std::uint32_t kSliceMs = 250;
  const int fd = Fd(socket);
  GatherCursor cursor(parts, partCount);
  std::size_t sent = 0;
  std::uint64_t lastProgress = TickCountMs();
  int lastQueued = -1;
  while (!cursor.Done()) {
    iovec blocks[kMaxBlocks];
    std::size_t count = 0;
    cursor.Fill(
        [&](const std::uint8_t* data, std::size_t length) {
          blocks[count++] = iovec{const_cast<std::uint8_t*>(data), length};
        },
        kMaxBlocks, static_cast<std::size_t>(SSIZE_MAX));
    msghdr message{};
    message.msg_iov = blocks;
    message.msg_iovlen = count;
    const ssize_t done = sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (done > 0) {
      cursor.Advance(static_cast<std::size_t>(done));
      sent += static_cast<std::size_t>(done);
      lastProgress = TickCountMs();
      lastQueued = -1;
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && !IsWouldBlock(errno)) return {SendStatus::Failed, sent, errno};

    std::uint32_t wait = kWaitForever;
    if (stallLimitMs != kWaitForever) {
      const std::uint64_t idle = TickCountMs() - lastProgress;
      if (idle >= stallLimitMs) return {SendStatus::Stalled, sent, 0};
      const std::uint64_t left = stallLimitMs - idle;
      wait = left < kSliceMs ? static_cast<std::uint32_t>(left) : kSliceMs;
    }
    const WaitResult ready = PollFor(fd, POLLOUT, wait);
    if (ready.status == WaitStatus::Failed) return {SendStatus::Failed, sent, ready.error};
    if (ready.status == WaitStatus::TimedOut) {
      int queued = 0;
      if (ioctl(fd, TIOCOUTQ, &queued) == 0) {
        if (lastQueued >= 0 && queued < lastQueued) lastProgress = TickCountMs();
        lastQueued = queued;
      }
    }
  }
  return {SendStatus::Sent, sent, 0};
}

WaitResult WaitReady(SocketHandle socket, Readiness what, std::uint32_t timeoutMs) {
  short events = POLLIN;
  if (what == Readiness::Write) events = POLLOUT;
  if (what == Readiness::Except) events = POLLPRI;
  return PollFor(Fd(socket), events, timeoutMs);
}

bool SetNonBlocking(SocketHandle socket, bool nonBlocking) {
  const int flags = fcntl(Fd(socket), F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(Fd(socket), F_SETFL, wanted) == 0;
}

bool SetNoDelay(SocketHandle socket, bool on) {
  return SetIntOption(Fd(socket), IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

bool SetKeepAlive(SocketHandle socket, const KeepAliveSettings& settings) {
  const int fd = Fd(socket);
  if (!SetIntOption(fd, SOL_SOCKET, SO_KEEPALIVE, settings.enabled ? 1 : 0)) return false;
  if (!settings.enabled) return true;
  auto seconds = [](std::uint32_t ms) {
    const std::uint32_t s = ms / 1000 + (ms % 1000 != 0 ? 1 : 0);
    return static_cast<int>(s == 0 ? 1 : (s > INT_MAX ? INT_MAX : s));
  };
  const int count = settings.probeCount == 0    ? 1
                    : settings.probeCount > 127 ? 127
                                                : static_cast<int>(settings.probeCount);
  return SetIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, seconds(settings.idleMs)) &&
         SetIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, seconds(settings.intervalMs)) &&
         SetIntOption(fd, IPPROTO_TCP, TCP_KEEPCNT, count);
}

bool GetKeepAlive(SocketHandle socket, KeepAliveSettings& settings) {
  const int fd = Fd(socket);
  int enabled = 0, idle = 0, interval = 0, count = 0;
  if (!GetIntOption(fd, SOL_SOCKET, SO_KEEPALIVE, enabled) ||
      !GetIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, idle) ||
      !GetIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, interval) ||
      !GetIntOption(fd, IPPROTO_TCP, TCP_KEEPCNT, count)) {
    return false;
  }
  settings.enabled = enabled != 0;
  settings.idleMs = static_cast<std::uint32_t>(idle) * 1000;
  settings.intervalMs = static_cast<std::uint32_t>(interval) * 1000;
  settings.probeCount = static_cast<std::uint32_t>(count);
  return true;
}

ListenResult OpenListeningSocket(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);

  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return {kInvalidSocket, ListenStep::Create, errno};
  auto fail = [fd](ListenStep step) {
    const int error = errno;
    close(fd);
    return ListenResult{kInvalidSocket, step, error};
  };
  if (!SetIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1)) return fail(ListenStep::ReuseAddress);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return fail(ListenStep::Bind);
  }
  if (listen(fd, SOMAXCONN) != 0) return fail(ListenStep::Listen);
  return {Handle(fd), ListenStep::None, 0};
}

SocketHandle AcceptClient(SocketHandle listener, int* error) {
  for (;;) {
    const int fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return Handle(fd);
    if (errno == EINTR) continue;
    if (error != nullptr) *error = errno;
    return kInvalidSocket;
  }
}

std::uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

ConnectResult ConnectTo(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                        int receiveBufferBytes) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (resolved != 0 || found == nullptr) {
    if (found != nullptr) freeaddrinfo(found);
    return {kInvalidSocket, ConnectStep::Resolve, resolved != 0 ? resolved : EAI_NONAME};
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  freeaddrinfo(found);
  address.sin_port = htons(port);

  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return {kInvalidSocket, ConnectStep::Create, errno};
  auto fail = [fd](int error) {
    close(fd);
    return ConnectResult{kInvalidSocket, ConnectStep::Connect, error};
  };
  if (receiveBufferBytes > 0 && !SetIntOption(fd, SOL_SOCKET, SO_RCVBUF, receiveBufferBytes)) {
    return fail(errno);
  }
  if (!SetNonBlocking(Handle(fd), true)) return fail(errno);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(errno);
    const WaitResult wait = PollFor(fd, POLLOUT, timeoutMs);
    if (wait.status == WaitStatus::TimedOut) return fail(ETIMEDOUT);
    if (wait.status == WaitStatus::Failed) return fail(wait.error);
    int pending = 0;
    if (!GetIntOption(fd, SOL_SOCKET, SO_ERROR, pending)) return fail(errno);
    if (pending != 0) return fail(pending);
  }
  if (!SetNonBlocking(Handle(fd), false)) return fail(errno);
  return {Handle(fd), ConnectStep::None, 0};
}

std::string SocketErrorText(int error) {
  char buffer[256] = {};
  // GNU strerror_r returns the text (maybe not in buffer); XSI returns int.
  auto pick = [&](auto result) -> const char* {
    if constexpr (std::is_same_v<decltype(result), char*>) {
      return result;
    } else {
      return result == 0 ? buffer : nullptr;
    }
  };
  const char* text = pick(strerror_r(error, buffer, sizeof buffer));
  if (text == nullptr || *text == '\0') return "socket error " + std::to_string(error);
  return text;
}

std::string ResolveErrorText(int error) {
  const char* text = gai_strerror(error);
  if (text == nullptr || *text == '\0') return "name resolution error " + std::to_string(error);
  return text;
}

bool IsTimeoutError(int error) { return error == ETIMEDOUT; }

bool IsRefusedError(int error) { return error == ECONNREFUSED; }

bool IsKeepAliveDropError(int error) { return error == ETIMEDOUT; }

bool IsTransientAcceptError(int error) {
  // The errors accept(2) passes on for a connection that failed before it
  // was taken, and the shortages of descriptors and memory that pass.
  switch (error) {
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
#if defined(ENONET)
    case ENONET:
#endif
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EPERM:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
    case EINTR:
      return true;
    default:
      return false;
  }
}

}  // namespace Platform
