#include "robustness/Wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace robustness {
namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Wire::~Wire() { Close(); }

bool Wire::Connect(std::uint16_t port, std::uint32_t timeoutMs, int receiveBuffer) {
  Close();
  const std::int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (receiveBuffer > 0) {
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      fd_ = fd;
      return true;
    }
    const int error = errno;
    ::close(fd);
    if (error != ECONNREFUSED && error != EINTR) return false;
    if (NowMs() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool Wire::Send(const Bytes& bytes) {
  std::size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return fd_ >= 0;
}

Bytes Wire::Read(std::size_t count, std::uint32_t timeoutMs) {
  Bytes bytes(count);
  std::size_t got = 0;
  while (fd_ >= 0 && got < count) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t n = ::recv(fd_, bytes.data() + got, count - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

std::optional<WireFrame> Wire::ReadFrame(std::uint32_t timeoutMs) {
  const Bytes header = Read(16, timeoutMs);
  if (header.size() != 16) return std::nullopt;
  WireFrame frame;
  for (int i = 3; i >= 0; --i) frame.size = (frame.size << 8) | header[i];
  for (int i = 15; i >= 8; --i) frame.typeId = (frame.typeId << 8) | header[i];
  frame.body = Read(frame.size, timeoutMs);
  if (frame.body.size() != frame.size) return std::nullopt;
  return frame;
}

bool Wire::WaitClosed(std::uint32_t timeoutMs, std::size_t* bytesBefore) {
  if (bytesBefore != nullptr) *bytesBefore = 0;
  if (fd_ < 0) return true;
  const std::int64_t deadline = NowMs() + timeoutMs;
  std::uint8_t sink[4096];
  for (;;) {
    const std::int64_t left = deadline - NowMs();
    if (left < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return false;
    const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;  // FIN or reset
    if (bytesBefore != nullptr) *bytesBefore += static_cast<std::size_t>(n);
  }
}

void Wire::HalfClose() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void Wire::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Wire::Reset() {
  if (fd_ < 0) return;
  const linger abortive{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  Close();
}

Bytes Le32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

Bytes MakeHeader(std::uint32_t size, std::uint64_t typeId, std::uint32_t reserved) {
  Bytes header = Le32(size);
  const Bytes gap = Le32(reserved);
  header.insert(header.end(), gap.begin(), gap.end());
  for (int i = 0; i < 8; ++i) header.push_back(static_cast<std::uint8_t>(typeId >> (8 * i)));
  return header;
}

Bytes MakeFrame(std::uint64_t typeId, const Bytes& body, std::uint32_t reserved) {
  Bytes frame = MakeHeader(static_cast<std::uint32_t>(body.size()), typeId, reserved);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

}  // namespace robustness
