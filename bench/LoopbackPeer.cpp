#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchSupport.h"

namespace bench {
namespace {

void ServeClient(int client, std::size_t requestSize, const std::vector<std::uint8_t>& answer) {
  const int one = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::vector<std::uint8_t> request(requestSize);
  for (;;) {
    std::size_t got = 0;
    while (got < request.size()) {
      const ssize_t n = ::recv(client, request.data() + got, request.size() - got, 0);
      if (n <= 0) return;
      got += static_cast<std::size_t>(n);
    }
    std::size_t sent = 0;
    while (sent < answer.size()) {
      const ssize_t n = ::send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }
}

}  // namespace

LoopbackPeer::LoopbackPeer(std::size_t requestSize, const std::vector<std::uint8_t>& answer) {
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
    // The answer is touched once here, so that it is sent from warm pages.
    std::vector<std::uint8_t> warm(answer);
    for (;;) {
      const int client = ::accept(listener, nullptr, nullptr);
      if (client < 0) _exit(0);
      ServeClient(client, requestSize, warm);
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
