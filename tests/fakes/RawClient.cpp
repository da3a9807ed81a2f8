#include "fakes/RawClient.h"

#include <algorithm>

#include "messages/MessageHeader.h"
#include "platform/Time.h"

RawClient::~RawClient() { Close(); }

int RawClient::Connect(std::uint16_t port, std::uint32_t timeoutMs, int receiveBuffer) {
  Close();
  if (!Platform::InitSocketLayer()) return -1;
  const Platform::ConnectResult result =
      Platform::ConnectTo("127.0.0.1", port, timeoutMs, receiveBuffer);
  if (result.socket == Platform::kInvalidSocket) return result.error;
  Platform::SetNoDelay(result.socket, true);
  socket_ = result.socket;
  return 0;
}

bool RawClient::ConnectWithin(std::uint16_t port, std::uint32_t patienceMs, int receiveBuffer) {
  const std::uint64_t deadline = Platform::TickCountMs() + patienceMs;
  for (;;) {
    const std::uint64_t now = Platform::TickCountMs();
    const auto left = static_cast<std::uint32_t>(deadline > now ? deadline - now : 0);
    const int error = Connect(port, std::max<std::uint32_t>(left, 1), receiveBuffer);
    if (error == 0) return true;
    if (!Platform::IsRefusedError(error) || Platform::TickCountMs() >= deadline) return false;
    Platform::SleepMs(1);
  }
}

void RawClient::Adopt(Platform::SocketHandle connected) {
  Close();
  socket_ = connected;
}

bool RawClient::Send(const std::vector<std::uint8_t>& bytes) {
  if (!IsOpen()) return false;
  const Platform::ConstBuffer part{bytes.data(), bytes.size()};
  return Platform::SendAllWithin(socket_, &part, 1, Platform::kWaitForever).status ==
         Platform::SendStatus::Sent;
}

std::vector<std::uint8_t> RawClient::Read(std::size_t count, std::uint32_t timeoutMs) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t got = std::min(count, kept_.size());
  std::copy_n(kept_.begin(), got, bytes.begin());
  kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(got));
  while (IsOpen() && got < count) {
    const Platform::WaitResult ready =
        Platform::WaitReady(socket_, Platform::Readiness::Read, timeoutMs);
    if (ready.status != Platform::WaitStatus::Ready) break;
    const Platform::IoResult io = Platform::ReceiveSome(socket_, bytes.data() + got, count - got);
    if (io.status != Platform::IoStatus::Transferred) break;
    got += io.count;
  }
  bytes.resize(got);
  return bytes;
}

std::optional<WireFrame> RawClient::ReadFrame(std::uint32_t timeoutMs) {
  const std::vector<std::uint8_t> header = Read(Protocol::kHeaderSize, timeoutMs);
  if (header.size() != Protocol::kHeaderSize) return std::nullopt;
  const Protocol::MessageHeader parsed = Protocol::ReadHeader(header.data());
  WireFrame frame;
  frame.size = parsed.size;
  frame.typeId = parsed.type;
  frame.body = Read(parsed.size, timeoutMs);
  if (frame.body.size() != frame.size) return std::nullopt;
  return frame;
}

RawClient::Next RawClient::WaitNext(std::uint32_t timeoutMs) {
  if (!kept_.empty()) return Next::Data;
  if (!IsOpen()) return Next::Closed;
  const Platform::WaitResult ready =
      Platform::WaitReady(socket_, Platform::Readiness::Read, timeoutMs);
  if (ready.status != Platform::WaitStatus::Ready) return Next::Nothing;
  std::uint8_t byte = 0;
  const Platform::IoResult io = Platform::ReceiveSome(socket_, &byte, 1);
  if (io.status != Platform::IoStatus::Transferred) return Next::Closed;
  kept_.push_back(byte);
  return Next::Data;
}

bool RawClient::WaitClosed(std::uint32_t timeoutMs, std::size_t* bytesBefore) {
  if (bytesBefore != nullptr) *bytesBefore = kept_.size();
  kept_.clear();
  if (!IsOpen()) return true;
  const std::uint64_t deadline = Platform::TickCountMs() + timeoutMs;
  std::uint8_t sink[4096];
  for (;;) {
    const std::uint64_t now = Platform::TickCountMs();
    if (now > deadline) return false;
    const Platform::WaitResult ready = Platform::WaitReady(
        socket_, Platform::Readiness::Read, static_cast<std::uint32_t>(deadline - now));
    if (ready.status == Platform::WaitStatus::TimedOut) return false;
    if (ready.status == Platform::WaitStatus::Failed) return true;
    const Platform::IoResult io = Platform::ReceiveSome(socket_, sink, sizeof sink);
    if (io.status != Platform::IoStatus::Transferred) return true;  // FIN or reset
    if (bytesBefore != nullptr) *bytesBefore += io.count;
  }
}

void RawClient::HalfClose() {
  if (IsOpen()) Platform::ShutdownSend(socket_);
}

void RawClient::Close() {
  Platform::CloseSocket(socket_);
  socket_ = Platform::kInvalidSocket;
  kept_.clear();
}

void RawClient::Reset() {
  Platform::ResetSocket(socket_);
  socket_ = Platform::kInvalidSocket;
  kept_.clear();
}

Listener::~Listener() { Platform::CloseSocket(socket_); }

int Listener::Listen(std::uint16_t port) {
  Platform::CloseSocket(socket_);
  if (!Platform::InitSocketLayer()) return -1;
  const Platform::ListenResult result = Platform::OpenListeningSocket(port);
  socket_ = result.socket;
  return result.socket == Platform::kInvalidSocket ? result.error : 0;
}

std::vector<std::uint8_t> Le32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}
