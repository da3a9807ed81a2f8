// Winsock 2 sockets.
#include "platform/Socket.h"

// Order matters: winsock2.h before windows.h, mstcpip.h last.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <windows.h>

#include <mstcpip.h>

#include <climits>
#include <cstring>

#include "platform/GatherCursor.h"
#include "platform/Time.h"
#include "platform/win32/WideText.h"

namespace Platform {
namespace {

SOCKET Sock(SocketHandle socket) { return static_cast<SOCKET>(socket); }

SocketHandle Handle(SOCKET socket) {
  return socket == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(socket);
}

int Chunk(std::size_t count) { return count > INT_MAX ? INT_MAX : static_cast<int>(count); }

// select() on one socket. A failed non-blocking connect shows in the
// exception set, so `alsoExcept` adds it for the connect wait.
WaitResult SelectOne(SOCKET socket, Readiness what, std::uint32_t timeoutMs, bool alsoExcept) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  fd_set extra;
  FD_ZERO(&extra);
  FD_SET(socket, &extra);
  timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
  timeval* limitPtr = timeoutMs == kWaitForever ? nullptr : &limit;
  fd_set* readSet = what == Readiness::Read ? &set : nullptr;
  fd_set* writeSet = what == Readiness::Write ? &set : nullptr;
  fd_set* exceptSet = what == Readiness::Except ? &set : (alsoExcept ? &extra : nullptr);
  const int result = select(0, readSet, writeSet, exceptSet, limitPtr);
  if (result == SOCKET_ERROR) return {WaitStatus::Failed, WSAGetLastError()};
  if (result == 0) return {WaitStatus::TimedOut, 0};
  return {WaitStatus::Ready, 0};
}

}  // namespace

bool InitSocketLayer() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) closesocket(Sock(socket));
}

void ResetSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  linger abortive;
  abortive.l_onoff = 1;
  abortive.l_linger = 0;
  setsockopt(Sock(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
             sizeof abortive);
  closesocket(Sock(socket));
}

bool ShutdownSend(SocketHandle socket) { return shutdown(Sock(socket), SD_SEND) == 0; }

IoResult SendSome(SocketHandle socket, const void* data, std::size_t count) {
  const int sent = send(Sock(socket), static_cast<const char*>(data), Chunk(count), 0);
  if (sent != SOCKET_ERROR) return {IoStatus::Transferred, static_cast<std::size_t>(sent), 0};
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return {IoStatus::WouldBlock, 0, 0};
  return {IoStatus::Failed, 0, error};
}

IoResult ReceiveSome(SocketHandle socket, void* buffer, std::size_t count) {
  const int got = recv(Sock(socket), static_cast<char*>(buffer), Chunk(count), 0);
  if (got > 0) return {IoStatus::Transferred, static_cast<std::size_t>(got), 0};
  if (got == 0) return {IoStatus::PeerClosed, 0, 0};
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return {IoStatus::WouldBlock, 0, 0};
  return {IoStatus::Failed, 0, error};
}

IoResult ReceiveSomeNow(SocketHandle socket, void* buffer, std::size_t count) {
  // Winsock has no per-call "don't wait" flag: receive only what is known to
  // be waiting.
  u_long waiting = 0;
  if (ioctlsocket(Sock(socket), FIONREAD, &waiting) != 0) {
    return {IoStatus::Failed, 0, WSAGetLastError()};
  }
  if (waiting == 0) return {IoStatus::WouldBlock, 0, 0};
  return ReceiveSome(socket, buffer, count < waiting ? count : static_cast<std::size_t>(waiting));
}

SendOutcome SendAllWithin(SocketHandle socket, const ConstBuffer* parts, std::size_t partCount,
                          std::uint32_t stallLimitMs, SocketMode mode) {
  constexpr std::size_t kMaxBlocks = 64;
  // Winsock has no per-call "don't wait" flag: a blocking socket is
  // non-blocking for the send and blocking again afterwards, so a stalled
  // peer cannot hold a blocking send forever.
  const SOCKET s = Sock(socket);
  const bool toggle = mode == SocketMode::Blocking;
  GatherCursor cursor(parts, partCount);
  if (cursor.Done()) return {SendStatus::Sent, 0, 0};
  if (toggle && !SetNonBlocking(socket, true)) return {SendStatus::Failed, 0, WSAGetLastError()};
  std::size_t sent = 0;
  std::uint64_t lastProgress = TickCountMs();
  SendOutcome outcome{SendStatus::Sent, 0, 0};
  while (!cursor.Done()) {
    WSABUF blocks[kMaxBlocks];
    DWORD count = 0;
    cursor.Fill(
        [&](const std::uint8_t* data, std::size_t length) {
          blocks[count].buf = reinterpret_cast<char*>(const_cast<std::uint8_t*>(data));
          blocks[count].len = static_cast<ULONG>(length);
          ++count;
        },
        kMaxBlocks, std::size_t{1} << 30);
    DWORD done = 0;
    if (WSASend(s, blocks, count, &done, 0, nullptr, nullptr) == 0) {
      cursor.Advance(done);
      sent += done;
      if (done > 0) lastProgress = TickCountMs();
      continue;
    }
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
      outcome = {SendStatus::Failed, sent, error};
      break;
    }
    std::uint32_t wait = kWaitForever;
    if (stallLimitMs != kWaitForever) {
      const std::uint64_t idle = TickCountMs() - lastProgress;
      if (idle >= stallLimitMs) {
        outcome = {SendStatus::Stalled, sent, 0};
        break;
      }
      wait = static_cast<std::uint32_t>(stallLimitMs - idle);
    }
    const WaitResult ready = SelectOne(s, Readiness::Write, wait, false);
    if (ready.status == WaitStatus::Failed) {
      outcome = {SendStatus::Failed, sent, ready.error};
      break;
    }
  }
  if (toggle) SetNonBlocking(socket, false);
  if (outcome.status == SendStatus::Sent) outcome.sent = sent;
  return outcome;
}

WaitResult WaitReady(SocketHandle socket, Readiness what, std::uint32_t timeoutMs) {
  return SelectOne(Sock(socket), what, timeoutMs, false);
}

bool SetNonBlocking(SocketHandle socket, bool nonBlocking) {
  u_long mode = nonBlocking ? 1 : 0;
  return ioctlsocket(Sock(socket), FIONBIO, &mode) == 0;
}

bool SetNoDelay(SocketHandle socket, bool on) {
  BOOL value = on ? TRUE : FALSE;
  return setsockopt(Sock(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                    sizeof value) == 0;
}

// Option numbers of Windows 10 (version 1703 and later) that the mingw-w64
// headers lack: seconds of quiet before the first probe, unanswered probes
// before the drop, seconds between probes.
constexpr int kTcpKeepIdleOption = 3;       // TCP_KEEPALIVE
constexpr int kTcpKeepCountOption = 16;     // TCP_KEEPCNT
constexpr int kTcpKeepIntervalOption = 17;  // TCP_KEEPINTVL

bool SetKeepAlive(SocketHandle socket, const KeepAliveSettings& settings) {
  tcp_keepalive values{};
  values.onoff = settings.enabled ? 1 : 0;
  values.keepalivetime = settings.idleMs;
  values.keepaliveinterval = settings.intervalMs;
  DWORD returned = 0;
  if (WSAIoctl(Sock(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
               nullptr, nullptr) != 0) {
    return false;
  }
  if (settings.enabled && settings.probeCount > 0) {
    // Best effort: older systems fix the count themselves (10 probes).
    const DWORD count = settings.probeCount > 255 ? 255 : settings.probeCount;
    setsockopt(Sock(socket), IPPROTO_TCP, kTcpKeepCountOption,
               reinterpret_cast<const char*>(&count), sizeof count);
  }
  return true;
}

bool GetKeepAlive(SocketHandle socket, KeepAliveSettings& settings) {
  BOOL enabled = FALSE;
  int length = sizeof enabled;
  if (getsockopt(Sock(socket), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&enabled),
                 &length) != 0) {
    return false;
  }
  settings = KeepAliveSettings{};
  settings.enabled = enabled != FALSE;
  // Systems without the per-socket options leave the timings 0.
  auto read = [socket](int option) -> std::uint32_t {
    DWORD value = 0;
    int size = sizeof value;
    if (getsockopt(Sock(socket), IPPROTO_TCP, option, reinterpret_cast<char*>(&value), &size) !=
        0) {
      return 0;
    }
    return value;
  };
  settings.idleMs = read(kTcpKeepIdleOption) * 1000;
  settings.intervalMs = read(kTcpKeepIntervalOption) * 1000;
  settings.probeCount = read(kTcpKeepCountOption);
  return true;
}

ListenResult OpenListeningSocket(std::uint16_t port) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);

  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) return {kInvalidSocket, ListenStep::Create, WSAGetLastError()};
  auto fail = [socket](ListenStep step) {
    const int error = WSAGetLastError();
    closesocket(socket);
    return ListenResult{kInvalidSocket, step, error};
  };
  // No address reuse on Winsock: there it would let a second socket take a
  // port that is still listening.
  if (bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    return fail(ListenStep::Bind);
  }
  if (listen(socket, SOMAXCONN) != 0) return fail(ListenStep::Listen);
  return {Handle(socket), ListenStep::None, 0};
}

SocketHandle AcceptClient(SocketHandle listener, int* error) {
  const SOCKET socket = accept(Sock(listener), nullptr, nullptr);
  if (socket == INVALID_SOCKET && error != nullptr) *error = WSAGetLastError();
  return Handle(socket);
}

std::uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  int length = sizeof address;
  if (getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

ConnectResult ConnectTo(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                        int receiveBufferBytes) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (resolved != 0 || found == nullptr) {
    if (found != nullptr) freeaddrinfo(found);
    return {kInvalidSocket, ConnectStep::Resolve, resolved != 0 ? resolved : WSAHOST_NOT_FOUND};
  }
  sockaddr_in address;
  std::memcpy(&address, found->ai_addr, sizeof address);
  freeaddrinfo(found);
  address.sin_port = htons(port);

  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) return {kInvalidSocket, ConnectStep::Create, WSAGetLastError()};
  auto fail = [socket](int error) {
    closesocket(socket);
    return ConnectResult{kInvalidSocket, ConnectStep::Connect, error};
  };
  if (receiveBufferBytes > 0 &&
      setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBufferBytes),
                 sizeof receiveBufferBytes) != 0) {
    return fail(WSAGetLastError());
  }
  if (!SetNonBlocking(Handle(socket), true)) return fail(WSAGetLastError());
  if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) return fail(error);
    const WaitResult wait = SelectOne(socket, Readiness::Write, timeoutMs, true);
    if (wait.status == WaitStatus::TimedOut) return fail(WSAETIMEDOUT);
    if (wait.status == WaitStatus::Failed) return fail(wait.error);
    int pending = 0;
    int length = sizeof pending;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &length) != 0) {
      return fail(WSAGetLastError());
    }
    if (pending != 0) return fail(pending);
  }
  if (!SetNonBlocking(Handle(socket), false)) return fail(WSAGetLastError());
  return {Handle(socket), ConnectStep::None, 0};
}

std::string SocketErrorText(int error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result;
  if (length > 0 && text != nullptr) result = Win32::WideToUtf8(std::wstring_view(text, length));
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  if (result.empty()) result = "socket error " + std::to_string(error);
  return result;
}

std::string ResolveErrorText(int error) { return SocketErrorText(error); }

bool IsTimeoutError(int error) { return error == WSAETIMEDOUT; }

bool IsRefusedError(int error) { return error == WSAECONNREFUSED; }

bool IsKeepAliveDropError(int error) { return error == WSAETIMEDOUT || error == WSAENETRESET; }

bool IsTransientAcceptError(int error) {
  switch (error) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETDOWN:
    case WSAEMFILE:
    case WSAENOBUFS:
    case WSAEINTR:
    case WSAEINPROGRESS:
    case WSAEWOULDBLOCK:
      return true;
    default:
      return false;
  }
}

}  // namespace Platform
