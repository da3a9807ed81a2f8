// Platform sockets: the thin layer between the network library (and the
// client library) and the operating system's TCP sockets.
//
// Every operation returns its outcome as a value and keeps the operating
// system's error code, so that callers can report or print it. Sockets are
// plain handles: whoever opens one closes it with CloseSocket (or
// ResetSocket). Nothing here raises SIGPIPE: a send to a peer that has gone
// fails with an error code. On POSIX every socket opened here is
// close-on-exec, so a process started later holds no connection or port open.
//
// Threads: all functions may be called from any thread; a socket handle must
// not be closed while another thread still uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Platform {

// A socket of the operating system (a file descriptor on POSIX, a SOCKET on
// Windows), widened to a pointer-sized unsigned integer.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};

// Millisecond time-out meaning "no limit".
inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// Starts the socket layer (WSAStartup asking for version 2.2 on Windows; no
// operation on POSIX). Every successful call must be matched by nothing: the
// layer stays up until the process ends. True when the layer is usable.
bool InitSocketLayer();

// Closes `socket`; kInvalidSocket is ignored.
void CloseSocket(SocketHandle socket);

// Abortive close: the peer receives a reset instead of an orderly end of the
// stream (SO_LINGER with time 0, then close). kInvalidSocket is ignored.
void ResetSocket(SocketHandle socket);

// Ends the sending direction of a connected socket (the peer reads the end of
// the stream); receiving goes on. False when the socket refuses.
bool ShutdownSend(SocketHandle socket);

enum class IoStatus {
  Transferred,  // `count` bytes (at least 1) were moved
  PeerClosed,   // receive only: the peer shut the stream down in order
  WouldBlock,   // non-blocking socket: nothing could be moved now
  Failed,       // the socket failed; `error` holds the OS code
};

struct IoResult {
  IoStatus status;
  std::size_t count;  // bytes moved; 0 unless status is Transferred
  int error;          // OS error code when status is Failed, else 0
};

// One send call for up to `count` bytes (count > 0). May move fewer bytes
// than asked. On a blocking socket it blocks until at least one byte fits.
IoResult SendSome(SocketHandle socket, const void* data, std::size_t count);

// One receive call for up to `count` bytes (count > 0). On a blocking socket
// it blocks until at least one byte arrives or the peer closes.
IoResult ReceiveSome(SocketHandle socket, void* buffer, std::size_t count);
// Like ReceiveSome, but never waits: WouldBlock when no byte is waiting.
// Lets a reader skip the readiness wait when data is already there (a frame's
// body usually arrives with its header).
IoResult ReceiveSomeNow(SocketHandle socket, void* buffer, std::size_t count);

// One block of a gathered send.
struct ConstBuffer {
  const void* data;
  std::size_t size;
};

enum class SendStatus {
  Sent,     // every byte was handed to the socket
  Stalled,  // the peer accepted no byte for the stall limit
  Failed,   // the socket failed; `error` holds the OS code
};

struct SendOutcome {
  SendStatus status;
  std::size_t sent;  // bytes handed over before the outcome
  int error;         // OS error code when status is Failed, else 0
};

// Hands every byte of `parts`, in order, to a connected socket as one stream.
// Never waits longer than `stallLimitMs` (kWaitForever: no limit) for the
// peer to accept another byte: a peer that keeps accepting, however slowly,
// gets everything; one that accepts nothing for that long ends the send with
// Stalled. The parts go out gathered, with as few system calls as the peer's
// pace allows. Works on blocking and non-blocking sockets alike; `mode` says
// which the socket is, and it is in that mode again afterwards (Windows
// cannot read a socket's mode back, so the caller says it).
enum class SocketMode { Blocking, NonBlocking };
SendOutcome SendAllWithin(SocketHandle socket, const ConstBuffer* parts, std::size_t partCount,
                          std::uint32_t stallLimitMs, SocketMode mode = SocketMode::Blocking);

enum class Readiness { Read, Write, Except };
enum class WaitStatus { Ready, TimedOut, Failed };

struct WaitResult {
  WaitStatus status;
  int error;  // OS error code when status is Failed
};

// Waits until `socket` is ready in the asked sense, or up to `timeoutMs`
// milliseconds (kWaitForever: no limit). A socket whose peer has closed or
// that has failed counts as ready, so that the next call on it returns at
// once with the outcome.
WaitResult WaitReady(SocketHandle socket, Readiness what, std::uint32_t timeoutMs);

// Switches the socket between blocking (the default) and non-blocking mode.
bool SetNonBlocking(SocketHandle socket, bool nonBlocking);

// Sets or clears TCP_NODELAY (no coalescing of small segments).
bool SetNoDelay(SocketHandle socket, bool on);

struct KeepAliveSettings {
  bool enabled = false;
  std::uint32_t idleMs = 0;      // quiet time before the first probe
  std::uint32_t intervalMs = 0;  // time between unanswered probes
  std::uint32_t probeCount = 0;  // unanswered probes before the drop (POSIX)
};

// Enables TCP keepalive with the given timings. POSIX rounds the times up to
// whole seconds. Windows sets the probe count where the system allows it
// (Windows 10 version 1703 and later); older systems send 10 probes.
bool SetKeepAlive(SocketHandle socket, const KeepAliveSettings& settings);

// Reads the keepalive settings back. POSIX fills every field; Windows fills
// the timings only where the system can report them (else 0).
bool GetKeepAlive(SocketHandle socket, KeepAliveSettings& settings);

enum class ListenStep { None, Create, ReuseAddress, Bind, Listen };

struct ListenResult {
  SocketHandle socket;    // the listening socket, or kInvalidSocket
  ListenStep failedStep;  // None on success
  int error;              // OS error code of the failed step
};

// A TCP socket listening on every IPv4 interface on `port` (0: a port the
// system picks; see LocalPort) with the largest backlog the system allows.
// On POSIX SO_REUSEADDR is set so that connections of an earlier client that
// wait out their close do not keep the port; Windows needs no option. On
// failure nothing stays open.
ListenResult OpenListeningSocket(std::uint16_t port);

// Blocks until a client connects to `listener`; returns the connected socket
// (blocking mode) or kInvalidSocket with `*error` set (error may be null).
SocketHandle AcceptClient(SocketHandle listener, int* error);

// Port number a socket is bound to; 0 when it cannot be read.
std::uint16_t LocalPort(SocketHandle socket);

enum class ConnectStep { None, Resolve, Create, Connect };

struct ConnectResult {
  SocketHandle socket;     // connected, blocking mode; or kInvalidSocket
  ConnectStep failedStep;  // None on success
  int error;               // Resolve: resolver code (see ResolveErrorText); else OS code.
                           // A connect that ran out of time gives a time-out code
                           // (IsTimeoutError).
};

// Connects to `host` (name or dotted IPv4 address) on `port`, waiting at most
// `timeoutMs` milliseconds for the connection (kWaitForever: no limit).
// `receiveBufferBytes` > 0 sets the receive buffer (SO_RCVBUF) before the
// connect, so that the window offered to the peer is that small from the
// start (tests use it to make a sender stall); 0 keeps the system's size.
ConnectResult ConnectTo(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                        int receiveBufferBytes = 0);

// Text of an OS socket error code, never empty.
std::string SocketErrorText(int error);

// Text of a resolver failure code of ConnectTo, never empty.
std::string ResolveErrorText(int error);

// True for the OS code meaning "timed out" (ETIMEDOUT / WSAETIMEDOUT).
bool IsTimeoutError(int error);

// True for the OS code of a connect that nothing listened to
// (ECONNREFUSED / WSAECONNREFUSED).
bool IsRefusedError(int error);

// True for the OS codes with which a connection ends when the peer stopped
// answering keepalive probes: ETIMEDOUT on POSIX; WSAETIMEDOUT or
// WSAENETRESET on Windows.
bool IsKeepAliveDropError(int error);

// True for accept failures that concern one incoming connection or a passing
// state of the system rather than the listening socket: the same listener can
// accept again after them.
bool IsTransientAcceptError(int error);

}  // namespace Platform
