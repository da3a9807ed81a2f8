#include "network/Connection.h"

#include <limits>

#include "messages/MessageHeader.h"
#include "platform/Time.h"

namespace Network {
namespace {

// A receive buffer from the nothrow operator new[], released on every exit.
struct BufferDeleter {
  void operator()(std::uint8_t* block) const { delete[] block; }
};
using ReceiveBuffer = std::unique_ptr<std::uint8_t[], BufferDeleter>;

constexpr std::uint32_t kPollPauseMs = 5;

DropReason FromInvoke(InvokeResult result) {
  switch (result) {
    case InvokeResult::BodyTooShort:
      return DropReason::BodyTooShort;
    case InvokeResult::NoDeserializer:
      return DropReason::NoDeserializer;
    case InvokeResult::NoMemory:
      return DropReason::OutOfMemory;
    case InvokeResult::Handled:
      break;
  }
  return DropReason::None;
}

}  // namespace

const char* DropReasonText(DropReason reason) {
  switch (reason) {
    case DropReason::None:
      return "no drop";
    case DropReason::PeerClosed:
      return "peer closed the connection";
    case DropReason::PeerClosedMidFrame:
      return "peer closed the connection inside a frame";
    case DropReason::ReceiveError:
      return "receive failed";
    case DropReason::Stalled:
      return "frame stalled";
    case DropReason::UnknownType:
      return "message type has no handler";
    case DropReason::EmptyBody:
      return "frame announced an empty body";
    case DropReason::BodyTooShort:
      return "body shorter than its message";
    case DropReason::NoDeserializer:
      return "message type has no body reader";
    case DropReason::OutOfMemory:
      return "out of memory for a message";
    case DropReason::ExceptionThrown:
      return "message handling threw";
    case DropReason::SendStalled:
      return "client stopped reading";
    case DropReason::SendFailed:
      return "sending an answer failed";
  }
  return "unknown reason";
}

Connection::Connection(Platform::SocketHandle socket) : socket(socket) {}

Connection::~Connection() {
  handlers.clear();
  deserializers.clear();
  serializers.clear();
  Platform::CloseSocket(socket);
}

bool Connection::State(StateQuery which, std::uint32_t timeoutMs) {
  Platform::Readiness what;
  switch (which) {
    case StateQuery::Read:
      what = Platform::Readiness::Read;
      break;
    case StateQuery::Write:
      what = Platform::Readiness::Write;
      break;
    case StateQuery::Except:
      what = Platform::Readiness::Except;
      break;
    default:
      return false;
  }
  const Platform::WaitResult wait = Platform::WaitReady(socket, what, timeoutMs);
  if (wait.status == Platform::WaitStatus::Failed) {
    RecordSocketError(wait.error);
    ReportText(this, kStateFailedCode, "Connection::State select return SOCKET_ERROR");
    return false;
  }
  return wait.status == Platform::WaitStatus::Ready;
}

bool Connection::Send(const void* data, std::size_t count, std::uint32_t timeoutMs) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t sent = 0;
  std::uint64_t waited = 0;
  while (sent < count) {
    const Platform::IoResult io = Platform::SendSome(socket, bytes + sent, count - sent);
    if (io.status == Platform::IoStatus::Failed) {
      RecordSocketError(io.error);
      ReportText(this, kSendFailedCode, "Connection::Send send return error");
      return false;
    }
    sent += io.count;
    if (sent == count) break;
    Platform::SleepMs(kPollPauseMs);
    waited += kPollPauseMs;
    if (timeoutMs != kNoTimeout && waited > timeoutMs) break;
  }
  return sent == count;
}

std::size_t Connection::Receive(void* buffer, std::size_t count, std::uint32_t timeoutMs) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t received = 0;
  std::uint64_t waited = 0;
  while (received < count) {
    const Platform::IoResult io = Platform::ReceiveSome(socket, bytes + received, count - received);
    if (io.status == Platform::IoStatus::Failed) {
      RecordSocketError(io.error);
      ReportText(this, kReceiveFailedCode, "Connection::Receive recv return error");
      break;
    }
    // An orderly shutdown: no more bytes will come.
    if (io.status == Platform::IoStatus::PeerClosed) break;
    received += io.count;
    if (received == count) break;
    Platform::SleepMs(kPollPauseMs);
    waited += kPollPauseMs;
    if (timeoutMs != kNoTimeout && waited > timeoutMs) break;
  }
  return received;
}

PartialReceive Connection::ReceiveAvailable(void* buffer, std::size_t count, std::uint32_t waitMs) {
  if (count == 0) return {0, ReceiveStatus::Data};
  // Without a time-out a blocking receive is the wait itself; with one, bytes
  // that are already waiting are taken without a readiness wait first.
  Platform::IoResult io = waitMs == kNoTimeout ? Platform::ReceiveSome(socket, buffer, count)
                                               : Platform::ReceiveSomeNow(socket, buffer, count);
  for (;;) {
    switch (io.status) {
      case Platform::IoStatus::Transferred:
        return {io.count, ReceiveStatus::Data};
      case Platform::IoStatus::PeerClosed:
        return {0, ReceiveStatus::Closed};
      case Platform::IoStatus::WouldBlock:
        break;
      case Platform::IoStatus::Failed:
        RecordSocketError(io.error);
        ReportText(this, kReceiveFailedCode, "Connection::Receive recv return error");
        return {0, ReceiveStatus::Failed};
    }
    const Platform::WaitResult wait =
        Platform::WaitReady(socket, Platform::Readiness::Read, waitMs);
    if (wait.status == Platform::WaitStatus::TimedOut) return {0, ReceiveStatus::TimedOut};
    if (wait.status == Platform::WaitStatus::Failed) {
      RecordSocketError(wait.error);
      ReportText(this, kStateFailedCode, "Connection::State select return SOCKET_ERROR");
      return {0, ReceiveStatus::Failed};
    }
    // Readiness without data (a non-blocking socket) just waits again.
    io = Platform::ReceiveSome(socket, buffer, count);
  }
}

bool Connection::SendBroken() {
  switch (sendState) {
    case Platform::SendStatus::Sent:
      return false;
    case Platform::SendStatus::Stalled:
      lastDrop = DropReason::SendStalled;
      return true;
    case Platform::SendStatus::Failed:
      lastDrop = DropReason::SendFailed;
      return true;
  }
  return true;
}

std::string Connection::LastSocketErrorText() const {
  return lastSocketError == 0 ? std::string() : Platform::SocketErrorText(lastSocketError);
}

Platform::SendStatus Connection::SendParts(const Platform::ConstBuffer* parts, std::size_t count) {
  const Platform::SendOutcome outcome =
      Platform::SendAllWithin(socket, parts, count, sendStallLimitMs);
  if (outcome.status == Platform::SendStatus::Failed) {
    RecordSocketError(outcome.error);
    ReportText(this, kSendFailedCode, "Connection::Send send return error");
  }
  return outcome.status;
}

bool Connection::SendFrame(std::size_t typeId, std::size_t bodySize, Platform::ConstBuffer* parts,
                           std::size_t count) {
  if (bodySize > std::numeric_limits<std::uint32_t>::max()) return false;
  // Nothing more goes to a peer that stopped taking an earlier answer.
  if (sendState != Platform::SendStatus::Sent) return false;
  Protocol::MessageHeader header;
  header.size = static_cast<std::uint32_t>(bodySize);
  header.type = static_cast<std::uint32_t>(typeId);
  std::uint8_t headerBytes[Protocol::kHeaderSize];
  Protocol::WriteHeader(header, headerBytes);
  parts[0] = {headerBytes, sizeof headerBytes};
  sendState = SendParts(parts, count);
  return sendState == Platform::SendStatus::Sent;
}

bool Connection::SendRaw(std::size_t typeId, const void* body, std::size_t size) {
  Platform::ConstBuffer parts[2] = {{nullptr, 0}, {body, size}};
  return SendFrame(typeId, size, parts, 2);
}

bool Connection::SendSerialized(std::size_t typeId, const ByteBuffer& body) {
  std::vector<Platform::ConstBuffer> parts;
  parts.reserve(1 + body.BlockCount());
  parts.push_back({nullptr, 0});  // the header's place
  body.ForEachBlock([&parts](const std::uint8_t* data, std::size_t size) {
    parts.push_back({data, size});
  });
  return SendFrame(typeId, body.Size(), parts.data(), parts.size());
}

bool Connection::ReadFrameBytes(void* buffer, std::size_t count, bool frameStart) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t received = 0;
  while (received < count) {
    const bool firstByte = frameStart && received == 0;
    const PartialReceive part =
        ReceiveAvailable(bytes + received, count - received, firstByte ? kNoTimeout : stallLimitMs);
    switch (part.status) {
      case ReceiveStatus::Data:
        if (part.count == 0 || part.count > count - received) {
          lastDrop = DropReason::ReceiveError;
          return false;
        }
        received += part.count;
        break;
      case ReceiveStatus::TimedOut:
        lastDrop = firstByte ? DropReason::ReceiveError : DropReason::Stalled;
        return false;
      case ReceiveStatus::Closed:
        lastDrop = firstByte ? DropReason::PeerClosed : DropReason::PeerClosedMidFrame;
        return false;
      case ReceiveStatus::Failed:
        lastDrop = DropReason::ReceiveError;
        return false;
    }
  }
  return true;
}

bool Connection::ReceiveWithHandlers(std::int32_t timeoutMs) {
  lastDrop = DropReason::None;
  if (SendBroken()) return false;
  const std::uint64_t start = Platform::TickCountMs();
  // Unsigned wrap-around keeps a negative time-out other than -1 well defined.
  const std::uint64_t deadline =
      timeoutMs == -1 ? std::numeric_limits<std::uint64_t>::max()
                      : start + static_cast<std::uint64_t>(static_cast<std::int64_t>(timeoutMs));

  ReceiveBuffer defaultBuffer(new (std::nothrow) std::uint8_t[kDefaultReceiveBufferSize]);
  if (!defaultBuffer) {
    ReportError(this, kReceiveMemoryCode,
                "ReceiveWithHandlers can't run - memory allocation failed for default receive "
                "buffer (size %u)!",
                static_cast<unsigned>(kDefaultReceiveBufferSize));
    lastDrop = DropReason::OutOfMemory;
    return false;
  }

  for (;;) {
    std::uint8_t headerBytes[Protocol::kHeaderSize];
    if (!ReadFrameBytes(headerBytes, sizeof headerBytes, true)) return false;
    const Protocol::MessageHeader header = Protocol::ReadHeader(headerBytes);
    const std::size_t typeId = Protocol::DispatchType(header);

    const auto handlerIter = handlers.find(typeId);
    if (handlerIter == handlers.end()) {
      lastDrop = DropReason::UnknownType;
      return false;
    }
    if (header.size == 0) {
      lastDrop = DropReason::EmptyBody;
      return false;
    }

    std::uint8_t* body = defaultBuffer.get();
    ReceiveBuffer ownBuffer;
    if (header.size > kDefaultReceiveBufferSize) {
      ownBuffer.reset(new (std::nothrow) std::uint8_t[header.size]);
      if (!ownBuffer) {
        ReportError(this, kReceiveMemoryCode,
                    "Can't accept message with type '%zu'. Memory allocation failed. Message "
                    "will be skipped",
                    typeId);
        lastDrop = DropReason::OutOfMemory;
        return false;
      }
      body = ownBuffer.get();
    }
    if (!ReadFrameBytes(body, header.size, false)) return false;

    lastDrop = DropReason::ExceptionThrown;  // stays if Invoke throws
    const InvokeResult result = handlerIter->second->Invoke(body, header.size);
    if (result != InvokeResult::Handled) {
      lastDrop = FromInvoke(result);
      return false;
    }
    lastDrop = DropReason::None;
    ownBuffer.reset();
    // A client that stopped taking its answer is not read any further.
    if (SendBroken()) return false;
    if (Platform::TickCountMs() > deadline) return true;
  }
}

}  // namespace Network
