#include "client/Client.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "colour/Utf8.h"
#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"
#include "messages/Messages.h"
#include "platform/Time.h"

namespace vantorel {
namespace {

// How often a waiting caller hears from the progress callback.
constexpr std::uint32_t kProgressTickMs = 200;

const char* RequestName(std::uint64_t id) {
  switch (id) {
    case Protocol::kUsbConnect:
      return "usb connect";
    case Protocol::kGetJobs:
      return "job list";
    case Protocol::kTerminate:
      return "terminate";
    case Protocol::kDeleteJob:
      return "delete job";
    case Protocol::kGetMeasure:
      return "measurement";
    case Protocol::kGetSample:
      return "sample";
    case Protocol::kNetworkConnect:
      return "network connect";
    case Protocol::kAddJob:
      return "add job";
    case Protocol::kDoJob:
      return "run job";
    case Protocol::kCancel:
      return "cancel";
    case Protocol::kUserMessage:
      return "user message";
    case Protocol::kGetLog:
      return "log";
    default:
      return "request";
  }
}

std::uint32_t AddTimeouts(std::uint32_t a, std::uint32_t b) {
  if (a == Platform::kWaitForever || b == Platform::kWaitForever) return Platform::kWaitForever;
  const std::uint64_t sum = std::uint64_t{a} + b;
  return sum >= Platform::kWaitForever ? Platform::kWaitForever : static_cast<std::uint32_t>(sum);
}

// Serializes a request with its ByteBuffer function.
template <typename Msg>
std::vector<std::uint8_t> Serialized(Msg& message, void (*serialize)(ByteBuffer&, Msg&)) {
  ByteBuffer buffer(64, true);
  serialize(buffer, message);
  return buffer.Release();
}

// The bytes of a raw request structure.
template <typename Msg>
std::vector<std::uint8_t> RawBody(const Msg& message) {
  std::vector<std::uint8_t> body(sizeof(Msg));
  std::memcpy(body.data(), &message, sizeof(Msg));
  return body;
}

std::string MalformedText(std::uint64_t id, std::uint32_t size, const ByteBufferException& e) {
  return std::string("malformed ") + RequestName(id) + " answer: body of " + std::to_string(size) +
         " bytes ends before byte " + std::to_string(e.endPosition);
}

}  // namespace

Client::Client(ClientOptions options) : options_(options) {}

Client::~Client() { Close(); }

void Client::Close() {
  Platform::CloseSocket(socket_);
  socket_ = Platform::kInvalidSocket;
}

Status Client::Fail(Failure failure, std::string text) {
  // The stream position is unknown after any failure: never read from it again.
  Close();
  Status status;
  status.failure = failure;
  status.text = std::move(text);
  return status;
}

Status Client::Connect(const std::string& host, std::uint16_t port) {
  Close();
  const std::string where = "cannot connect to " + host + ":" + std::to_string(port) + ": ";
  if (!Platform::InitSocketLayer()) {
    return Fail(Failure::CannotConnect, where + "the socket layer could not be started");
  }
  const Platform::ConnectResult result = Platform::ConnectTo(host, port, options_.connectTimeoutMs);
  if (result.socket == Platform::kInvalidSocket) {
    if (result.failedStep == Platform::ConnectStep::Resolve) {
      return Fail(Failure::CannotResolve, where + Platform::ResolveErrorText(result.error));
    }
    return Fail(Failure::CannotConnect, where + Platform::SocketErrorText(result.error));
  }
  // Non-blocking: every receive is tried first and waits only when nothing is
  // there, so a large answer costs one system call per chunk, not two.
  if (!Platform::SetNonBlocking(result.socket, true)) {
    Platform::CloseSocket(result.socket);
    return Fail(Failure::CannotConnect, where + "cannot switch the socket to non-blocking mode");
  }
  Platform::SetNoDelay(result.socket, true);  // best effort: only latency depends on it
  socket_ = result.socket;
  return Status{};
}

Status Client::SendParts(const Platform::ConstBuffer* parts, std::size_t count) {
  if (!IsConnected()) return Fail(Failure::NotConnected, "not connected to the driver");
  const Platform::SendOutcome outcome = Platform::SendAllWithin(
      socket_, parts, count, options_.answerTimeoutMs, Platform::SocketMode::NonBlocking);
  switch (outcome.status) {
    case Platform::SendStatus::Sent:
      return Status{};
    case Platform::SendStatus::Stalled:
      return Fail(Failure::SendFailed, "cannot send: the driver takes no more data");
    case Platform::SendStatus::Failed:
      break;
  }
  return Fail(Failure::SendFailed, "cannot send: " + Platform::SocketErrorText(outcome.error));
}

Status Client::SendRaw(const void* bytes, std::size_t count) {
  const Platform::ConstBuffer part{bytes, count};
  return SendParts(&part, 1);
}

Status Client::SendFrame(std::uint64_t typeId, const std::vector<std::uint8_t>& body) {
  if (body.size() > 0xFFFFFFFFu) {
    Status status;
    status.failure = Failure::InvalidArgument;
    status.text = "body too large for one frame";
    return status;
  }
  // Header and body leave in one gathered send: two small sends in a row
  // would stall on the driver's delayed acknowledgement.
  std::uint8_t header[Protocol::kHeaderSize];
  Protocol::WriteHeader({static_cast<std::uint32_t>(body.size()), 0, typeId}, header);
  const Platform::ConstBuffer parts[2] = {{header, sizeof header}, {body.data(), body.size()}};
  return SendParts(parts, 2);
}

FrameAnswer Client::ReceiveFrame(std::uint32_t timeoutMs) {
  FrameAnswer answer;
  Body body;
  answer.status = ReceiveBody(0, timeoutMs, body);
  if (answer.status.TransportError()) return answer;
  answer.frame.size = body.size;
  answer.frame.typeId = body.typeId;
  answer.frame.body.assign(body.data, body.data + body.size);
  return answer;
}

Client::Receipt Client::StartReceipt(std::uint32_t timeoutMs) const {
  Receipt receipt;
  receipt.timeoutMs = timeoutMs;
  receipt.start = receipt.lastActivity = Platform::TickCountMs();
  return receipt;
}

void Client::Report(const Receipt& receipt) {
  if (!progress_) return;
  Progress progress;
  progress.receiving = receipt.inBody;
  progress.elapsedMs = Platform::TickCountMs() - receipt.start;
  progress.received = receipt.inBody ? receipt.received : 0;
  progress.total = receipt.inBody ? receipt.size : 0;
  progress_(progress);
}

// The time-out bounds the wait for the first byte and every later pause.
Status Client::ReceiveSome(Receipt& receipt, std::uint8_t* target, std::size_t atLeast,
                           std::size_t atMost, std::size_t& got) {
  got = 0;
  if (!IsConnected()) return Fail(Failure::NotConnected, "not connected to the driver");
  while (got < atLeast) {
    const Platform::IoResult io = Platform::ReceiveSome(socket_, target + got, atMost - got);
    if (io.status == Platform::IoStatus::Transferred) {
      got += io.count;
      receipt.lastActivity = Platform::TickCountMs();
      if (receipt.inBody) {
        receipt.received += io.count;
        Report(receipt);
      }
      continue;
    }
    if (io.status == Platform::IoStatus::PeerClosed || io.status == Platform::IoStatus::Failed) {
      std::string text = "the driver closed the connection";
      if (receipt.inBody) {
        text += " in the middle of an answer (" + std::to_string(receipt.received) + " of " +
                std::to_string(receipt.size) + " bytes)";
      } else if (got > 0) {
        text += " in the middle of a frame header";
      }
      if (io.status == Platform::IoStatus::Failed) {
        text += ": " + Platform::SocketErrorText(io.error);
      }
      return Fail(Failure::Closed, text);
    }
    // Nothing there: wait for data, waking up for progress reports.
    std::uint32_t wait = Platform::kWaitForever;
    if (receipt.timeoutMs != Platform::kWaitForever) {
      const std::uint64_t idle = Platform::TickCountMs() - receipt.lastActivity;
      if (idle >= receipt.timeoutMs) {
        return Fail(Failure::TimedOut, "no answer from the driver within " +
                                           std::to_string(receipt.timeoutMs) + " ms");
      }
      wait = static_cast<std::uint32_t>(receipt.timeoutMs - idle);
    }
    if (progress_) wait = std::min(wait, kProgressTickMs);
    const Platform::WaitResult ready =
        Platform::WaitReady(socket_, Platform::Readiness::Read, wait);
    if (ready.status == Platform::WaitStatus::Failed) {
      return Fail(Failure::Closed, "connection failed: " + Platform::SocketErrorText(ready.error));
    }
    if (ready.status == Platform::WaitStatus::TimedOut) Report(receipt);
  }
  return Status{};
}

Status Client::ReceiveHeader(std::uint32_t answerId, Receipt& receipt) {
  std::uint8_t header[Protocol::kHeaderSize];
  std::size_t got = 0;
  const Status status = ReceiveSome(receipt, header, sizeof header, sizeof header, got);
  if (status.TransportError()) return status;
  const Protocol::MessageHeader parsed = Protocol::ReadHeader(header);
  receipt.size = parsed.size;
  receipt.typeId = parsed.type;
  const auto lowId = static_cast<std::uint32_t>(parsed.type);
  if (answerId != 0 && lowId != answerId) {
    return Fail(Failure::UnexpectedType, "unexpected answer: type id " + std::to_string(lowId) +
                                             " (expected " + std::to_string(answerId) + ", " +
                                             RequestName(answerId) + ")");
  }
  if (parsed.size > options_.maxAnswerBytes) {
    return Fail(Failure::TooLarge, "answer of " + std::to_string(parsed.size) +
                                       " bytes exceeds the limit of " +
                                       std::to_string(options_.maxAnswerBytes));
  }
  receipt.inBody = true;
  Report(receipt);
  return Status{};
}

Status Client::ReceiveBody(std::uint32_t answerId, std::uint32_t timeoutMs, Body& body) {
  Receipt receipt = StartReceipt(timeoutMs);
  const Status header = ReceiveHeader(answerId, receipt);
  if (header.TransportError()) return header;
  body.size = receipt.size;
  body.typeId = receipt.typeId;
  // At least one byte, so that the body pointer is never null. Fresh
  // buffers are left uninitialised: the socket fills them.
  const std::size_t need = std::max<std::size_t>(body.size, 1);
  if (need <= kReusedBufferLimit) {
    if (need > bufferCapacity_) {
      buffer_.reset();
      bufferCapacity_ = 0;
      buffer_.reset(new (std::nothrow) std::uint8_t[need]);
      if (buffer_) bufferCapacity_ = need;
    }
    body.data = buffer_.get();
  } else {
    body.own.reset(new (std::nothrow) std::uint8_t[need]);
    body.data = body.own.get();
  }
  if (body.data == nullptr) {
    return Fail(Failure::TooLarge,
                "no memory for an answer of " + std::to_string(body.size) + " bytes");
  }
  if (body.size == 0) return Status{};
  std::size_t got = 0;
  return ReceiveSome(receipt, const_cast<std::uint8_t*>(body.data), body.size, body.size, got);
}

// The body of a measurement answer as its decoder asks for it. Small fields
// come from a staging buffer filled with whatever has arrived (one receive
// for many fields); a read larger than that buffer (an image) goes from the
// socket straight into its destination. Never reads past the body.
class Client::BodySource final : public ByteSource {
 public:
  BodySource(Client& client, Receipt& receipt) : client_(client), receipt_(receipt) {}

  bool Read(void* into, std::size_t count) override {
    auto* target = static_cast<std::uint8_t*>(into);
    const std::size_t staged = std::min(count, stageEnd_ - stageBegin_);
    std::memcpy(target, stage_ + stageBegin_, staged);
    stageBegin_ += staged;
    target += staged;
    count -= staged;
    if (count == 0) return true;
    const std::uint64_t unreceived = receipt_.size - receipt_.received;
    if (count > unreceived) return false;  // the decoder checks lengths first
    std::size_t got = 0;
    if (count >= sizeof stage_) {
      status_ = client_.ReceiveSome(receipt_, target, count, count, got);
      return !status_.TransportError();
    }
    const std::size_t fill =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof stage_, unreceived));
    status_ = client_.ReceiveSome(receipt_, stage_, count, fill, got);
    if (status_.TransportError()) return false;
    std::memcpy(target, stage_, count);
    stageBegin_ = count;
    stageEnd_ = got;
    return true;
  }

  // Receives and drops what the decoder did not read: the stream must end
  // at the frame's end.
  bool SkipRest() {
    stageBegin_ = stageEnd_;
    while (receipt_.received < receipt_.size) {
      const std::size_t want = static_cast<std::size_t>(
          std::min<std::uint64_t>(sizeof stage_, receipt_.size - receipt_.received));
      std::size_t got = 0;
      status_ = client_.ReceiveSome(receipt_, stage_, want, want, got);
      if (status_.TransportError()) return false;
    }
    return true;
  }

  // The transport failure that made Read or SkipRest fail, if any.
  const Status& TransportStatus() const { return status_; }

 private:
  Client& client_;
  Receipt& receipt_;
  Status status_;
  std::size_t stageBegin_ = 0;
  std::size_t stageEnd_ = 0;
  std::uint8_t stage_[16 * 1024];
};

Status Client::Exchange(std::uint64_t requestId, const std::vector<std::uint8_t>& request,
                        std::uint32_t answerId, std::uint32_t timeoutMs, Body& answer) {
  const Status sent = SendFrame(requestId, request);
  if (!sent.Ok()) return sent;
  return ReceiveBody(answerId, timeoutMs, answer);
}

Status Client::ExchangeCode(std::uint64_t requestId, const std::vector<std::uint8_t>& request,
                            std::uint32_t answerId, std::uint32_t timeoutMs) {
  Body answer;
  const Status status = Exchange(requestId, request, answerId, timeoutMs, answer);
  if (status.TransportError()) return status;
  if (answer.size != sizeof(std::int32_t)) {
    return Fail(Failure::Malformed, std::string("malformed ") + RequestName(requestId) +
                                        " answer: " + std::to_string(answer.size) +
                                        " bytes instead of a 4-byte result code");
  }
  std::int32_t code = 0;
  std::memcpy(&code, answer.data, sizeof code);
  return StatusFromCode(code);
}

Status Client::ConnectUsb(std::uint32_t timeoutMs) {
  const MsgUsbConnect request{0, timeoutMs};
  return ExchangeCode(Protocol::kUsbConnect, RawBody(request), Protocol::kUsbConnect,
                      AddTimeouts(timeoutMs, options_.answerTimeoutMs));
}

Status Client::ConnectNetwork(std::array<std::uint8_t, 4> address, std::uint32_t timeoutMs) {
  MsgNetworkConnect request{};
  std::memcpy(request.address, address.data(), address.size());
  request.timeoutMs = timeoutMs;
  return ExchangeCode(Protocol::kNetworkConnect, RawBody(request), Protocol::kUsbConnect,
                      AddTimeouts(timeoutMs, options_.answerTimeoutMs));
}

JobsAnswer Client::GetJobs() {
  JobsAnswer result;
  const MsgGetJobs request{};
  Body answer;
  result.status = Exchange(Protocol::kGetJobs, RawBody(request), Protocol::kGetJobs,
                           options_.answerTimeoutMs, answer);
  if (result.status.TransportError()) return result;
  MsgAnswerJobInfo message{};
  try {
    ByteBuffer buffer(answer.data, answer.size, false);
    SerializeMsgAnswerJobInfo(buffer, message);
  } catch (const ByteBufferException& e) {
    result.status = Fail(Failure::Malformed, MalformedText(Protocol::kGetJobs, answer.size, e));
    return result;
  }
  result.status = StatusFromCode(message.result);
  result.jobs = std::move(message.jobs);
  return result;
}

Status Client::AddJob(const std::string& name, const std::string& make, std::uint32_t sampleCount) {
  MsgAddJob request{name, make, sampleCount};
  return ExchangeCode(Protocol::kAddJob, Serialized(request, &SerializeMsgAddJob),
                      Protocol::kAddJob, options_.answerTimeoutMs);
}

Status Client::DeleteJob(const std::string& name) {
  MsgDeleteJob request{name};
  return ExchangeCode(Protocol::kDeleteJob, Serialized(request, &SerializeMsgDeleteJob),
                      Protocol::kDeleteJob, options_.answerTimeoutMs);
}

Status Client::DoJob(const std::string& name) {
  MsgDoJob request{name};
  return ExchangeCode(Protocol::kDoJob, Serialized(request, &SerializeMsgDoJob), Protocol::kDoJob,
                      options_.answerTimeoutMs);
}

Status Client::Cancel() {
  const MsgCancel request{};
  return ExchangeCode(Protocol::kCancel, RawBody(request), Protocol::kCancel,
                      options_.answerTimeoutMs);
}

void Client::ExchangeMeasurement(std::uint64_t requestId, const std::vector<std::uint8_t>& request,
                                 MeasurementAnswer& result) {
  // The earlier images lend their memory to the new ones.
  std::vector<std::vector<std::uint8_t>> pool;
  for (auto& [angle, image] : result.data.images) {
    if (image.exr.capacity() != 0) pool.push_back(std::move(image.exr));
    if (image.secondImage.capacity() != 0) pool.push_back(std::move(image.secondImage));
  }
  result.data = VantorelMeasurementsFull{};
  const auto answerId = static_cast<std::uint32_t>(requestId);
  std::int32_t code = 0;
  if (pool.empty()) {
    // No memory to reuse: the body arrives in the warm receive buffer and is
    // decoded afterwards. Receiving straight into new vectors would be
    // slower: their first-touch page faults would stall the stream.
    Body answer;
    result.status = Exchange(requestId, request, answerId, options_.measureTimeoutMs, answer);
    if (result.status.TransportError()) return;
    try {
      ByteBuffer buffer(answer.data, answer.size, false);
      buffer.Process(code);
      Process(buffer, result.data);
    } catch (const ByteBufferException& e) {
      result.data = VantorelMeasurementsFull{};
      result.status = Fail(Failure::Malformed, MalformedText(requestId, answer.size, e));
      return;
    }
    result.status = StatusFromCode(code);
    return;
  }

  // Decoded while it arrives: the image bytes go from the socket straight
  // into the lent memory.
  result.status = SendFrame(requestId, request);
  if (!result.status.Ok()) return;
  Receipt receipt = StartReceipt(options_.measureTimeoutMs);
  result.status = ReceiveHeader(answerId, receipt);
  if (result.status.TransportError()) return;
  BodySource source(*this, receipt);
  try {
    ByteBuffer buffer(source, receipt.size);
    buffer.SetVectorPool(&pool);
    buffer.Process(code);
    Process(buffer, result.data);
  } catch (const ByteBufferException& e) {
    result.data = VantorelMeasurementsFull{};
    result.status = source.TransportStatus().TransportError()
                        ? source.TransportStatus()
                        : Fail(Failure::Malformed, MalformedText(requestId, receipt.size, e));
    return;
  }
  if (!source.SkipRest()) {
    result.data = VantorelMeasurementsFull{};
    result.status = source.TransportStatus();
    return;
  }
  result.status = StatusFromCode(code);
}

MeasurementAnswer Client::GetMeasure(const std::string& name) {
  MeasurementAnswer result;
  GetMeasure(name, result);
  return result;
}

MeasurementAnswer Client::GetSample(const std::string& name, std::int32_t index) {
  MeasurementAnswer result;
  GetSample(name, index, result);
  return result;
}

void Client::GetMeasure(const std::string& name, MeasurementAnswer& answer) {
  MsgGetMeasure request{name};
  ExchangeMeasurement(Protocol::kGetMeasure, Serialized(request, &SerializeMsgGetMeasure), answer);
}

void Client::GetSample(const std::string& name, std::int32_t index, MeasurementAnswer& answer) {
  MsgGetSample request{name, index};
  ExchangeMeasurement(Protocol::kGetSample, Serialized(request, &SerializeMsgGetSample), answer);
}

LogAnswer Client::GetLog() {
  LogAnswer result;
  const MsgGetLog request{};
  Body answer;
  result.status = Exchange(Protocol::kGetLog, RawBody(request), Protocol::kGetLog,
                           options_.answerTimeoutMs, answer);
  if (result.status.TransportError()) return result;
  MsgAnswerGetLog message{};
  try {
    ByteBuffer buffer(answer.data, answer.size, false);
    SerializeMsgAnswerGetLog(buffer, message);
  } catch (const ByteBufferException& e) {
    result.status = Fail(Failure::Malformed, MalformedText(Protocol::kGetLog, answer.size, e));
    return result;
  }
  // The driver appends one zero byte to the log; it is not part of the text.
  if (!message.log.empty() && message.log.back() == '\0') message.log.pop_back();
  result.status = StatusFromCode(static_cast<std::int32_t>(message.result));
  result.text = std::move(message.log);
  return result;
}

Status Client::SendUserMessage(const std::u32string& text) {
  MsgUserMessage request{text};
  return ExchangeCode(Protocol::kUserMessage, Serialized(request, &SerializeMsgUserMessage),
                      Protocol::kUserMessage, options_.answerTimeoutMs);
}

Status Client::SendUserMessage(const std::string& utf8Text) {
  std::u32string text;
  if (!colour::DecodeUtf8(utf8Text, text)) {
    Status status;
    status.failure = Failure::InvalidArgument;
    status.text = "the message is not valid UTF-8";
    return status;
  }
  return SendUserMessage(text);
}

Status Client::Terminate(std::uint32_t closeTimeoutMs) {
  const MsgTerminate request{};
  Status status = SendFrame(Protocol::kTerminate, RawBody(request));
  if (!status.Ok()) return status;
  // No answer comes: the driver reads the request, closes the connection in
  // order and ends. A reset says that nobody read the request: a driver
  // closes with unread bytes only when it never took the connection (it sat
  // in the queue of a listening socket closed meanwhile).
  for (;;) {
    std::uint8_t byte = 0;
    const Platform::IoResult io = Platform::ReceiveSome(socket_, &byte, 1);
    if (io.status == Platform::IoStatus::PeerClosed) {
      Close();
      return Status{};
    }
    if (io.status == Platform::IoStatus::Failed) {
      return Fail(Failure::Closed,
                  "the connection was reset without the terminate request being read (the driver "
                  "was taking another client, or it ended otherwise); try again");
    }
    if (io.status == Platform::IoStatus::Transferred) {
      return Fail(Failure::UnexpectedType, "the driver answered a terminate request");
    }
    const Platform::WaitResult wait =
        Platform::WaitReady(socket_, Platform::Readiness::Read, closeTimeoutMs);
    if (wait.status == Platform::WaitStatus::TimedOut) {
      return Fail(Failure::TimedOut, "the driver did not close the connection within " +
                                         std::to_string(closeTimeoutMs) + " ms");
    }
    if (wait.status == Platform::WaitStatus::Failed) {
      return Fail(Failure::Closed,
                  "waiting for the driver to close the connection failed; it may still be running");
    }
  }
}

}  // namespace vantorel
