#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "BenchSupport.h"

namespace bench {
namespace {

constexpr std::size_t kHeaderSize = 16;

std::uint32_t Le32At(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::uint64_t Le64At(const std::uint8_t* at) {
  return Le32At(at) | (static_cast<std::uint64_t>(Le32At(at + 4)) << 32);
}

bool SendAll(int client, const std::vector<std::uint8_t>& answer) {
  std::size_t sent = 0;
  while (sent < answer.size()) {
    const ssize_t n = ::send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads into one buffer and answers every whole frame in it, so that a small
// request costs one receive, as a fixed-size read would.
void ServeClient(int client, const LoopbackPeer::Answers& answers) {
  const int one = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::vector<std::uint8_t> buffer(64 * 1024);
  std::size_t held = 0;
  for (;;) {
    std::size_t used = 0;
    while (held - used >= kHeaderSize) {
      const std::uint8_t* frame = buffer.data() + used;
      const std::size_t size = kHeaderSize + Le32At(frame);
      if (size > buffer.size()) return;
      if (held - used < size) break;
      const auto answer = answers.find(Le64At(frame + 8));
      if (answer == answers.end() || !SendAll(client, answer->second)) return;
      used += size;
    }
    std::memmove(buffer.data(), buffer.data() + used, held - used);
    held -= used;
    const ssize_t n = ::recv(client, buffer.data() + held, buffer.size() - held, 0);
    if (n <= 0) return;
    held += static_cast<std::size_t>(n);
  }
}

}  // namespace

LoopbackPeer::LoopbackPeer(const Answers& answers) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Fail("loopback peer cannot listen");
  }
  port_ = ntohs(address.sin_port);
  child_ = ::fork();
  if (child_ < 0) Fail("loopback peer cannot fork");
  if (child_ == 0) {
    // The answers are touched once here, so that they are sent from warm pages.
    const Answers warm(answers);
    for (;;) {
      const int client = ::accept(listener, nullptr, nullptr);
      if (client < 0) _exit(0);
      ServeClient(client, warm);
      ::close(client);
    }
  }
  ::close(listener);
}

LoopbackPeer::~LoopbackPeer() {
  ::kill(child_, SIGKILL);
  int status = 0;
  ::waitpid(child_, &status, 0);
}

}  // namespace bench
