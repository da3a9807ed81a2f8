#include "integration/RawSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace integration {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Non-blocking connect bounded by `timeoutMs`; the socket is back in blocking
// mode on success. Returns 0 or an errno; `*fd` is the socket on success.
int ConnectSocket(std::uint16_t port, std::uint32_t timeoutMs, int* fd) {
  *fd = -1;
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return errno;
  const int flags = ::fcntl(s, F_GETFL, 0);
  ::fcntl(s, F_SETFL, flags | O_NONBLOCK);
  const sockaddr_in address = Loopback(port);
  int error = 0;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
      if (ready == 0) {
        error = ETIMEDOUT;
      } else {
        socklen_t length = sizeof error;
        error = 0;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
      }
    }
  }
  if (error != 0) {
    ::close(s);
    return error;
  }
  ::fcntl(s, F_SETFL, flags & ~O_NONBLOCK);
  const int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  *fd = s;
  return 0;
}

}  // namespace

std::vector<std::uint8_t> Le32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> Frame(std::uint64_t typeId, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> frame = Le32(static_cast<std::uint32_t>(body.size()));
  frame.resize(8, 0);
  for (int i = 0; i < 8; ++i) frame.push_back(static_cast<std::uint8_t>(typeId >> (8 * i)));
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

RawSocket::~RawSocket() { Close(); }

int RawSocket::Connect(std::uint16_t port, std::uint32_t timeoutMs) {
  Close();
  return ConnectSocket(port, timeoutMs, &fd_);
}

bool RawSocket::SendAll(const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return fd_ >= 0;
}

std::vector<std::uint8_t> RawSocket::Read(std::size_t count, std::uint32_t timeoutMs) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t got = 0;
  while (fd_ >= 0 && got < count) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeoutMs)) <= 0) break;
    const ssize_t n = ::recv(fd_, bytes.data() + got, count - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

RawSocket::Next RawSocket::WaitNext(std::uint32_t timeoutMs) {
  if (fd_ < 0) return Next::Closed;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeoutMs)) <= 0) return Next::Nothing;
  std::uint8_t byte = 0;
  const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK);
  return n > 0 ? Next::Data : Next::Closed;
}

void RawSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void RawSocket::Reset() {
  if (fd_ < 0) return;
  const linger abortive{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  Close();
}

Listener::~Listener() {
  if (fd_ >= 0) ::close(fd_);
}

int Listener::Listen(std::uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return errno;
  const int one = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_, 4) != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    return error;
  }
  return 0;
}

}  // namespace integration
