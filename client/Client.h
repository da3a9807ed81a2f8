// vantorel::Client: the client side of the driver's TCP protocol.
//
// One Client holds at most one connection to a driver. Each request is one
// call that sends the request frame and waits for its answer; the answer
// comes back as a typed value. Failures are values (Status), never
// exceptions: the driver's result codes (Failure::None, code != 0) are kept
// apart from transport and protocol failures (failure != Failure::None):
// no connection, a connection closed before or in the middle of an answer,
// no answer in time, an answer under an unexpected type id, a body that does
// not decode, or an announced body larger than the configured limit. After
// any transport or protocol failure the byte stream can no longer be trusted
// to be at a frame boundary, so the Client closes its connection; later calls
// fail with Failure::NotConnected until Connect succeeds again.
//
// Every answer is untrusted input: the announced size is checked against
// ClientOptions::maxAnswerBytes before anything is allocated, and bodies are
// decoded by ByteBuffer, whose exception is caught here and turned into
// Failure::Malformed.
//
// Threads: a Client is used by one thread at a time (no locks). The progress
// callback runs on the calling thread, inside the request call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "messages/MeasurementRecords.h"
#include "messages/Protocol.h"
#include "platform/Socket.h"

namespace vantorel {

// What went wrong below the level of the driver's result codes.
enum class Failure {
  None,             // the driver answered; Status::code holds its result code
  NotConnected,     // no open connection (never connected, or closed after a failure)
  CannotConnect,    // Connect could not reach the driver (refused, unreachable, timed out)
  CannotResolve,    // Connect could not resolve the host name
  SendFailed,       // the request could not be sent completely
  Closed,           // the driver closed the connection before the answer was complete
  TimedOut,         // the answer did not arrive within the time-out
  UnexpectedType,   // the answer arrived under another type id than expected
  Malformed,        // the answer's body does not decode as the expected message
  TooLarge,         // the announced body exceeds ClientOptions::maxAnswerBytes
  InvalidArgument,  // the request was not sent: an argument cannot be encoded
};

// Outcome of one call. Ok() only when the driver answered result code 0.
struct Status {
  Failure failure = Failure::None;
  std::int32_t code = 0;    // the driver's result code; 0 with every transport failure
  std::string text = "ok";  // human-readable, one line, no trailing full stop

  bool Ok() const noexcept { return failure == Failure::None && code == 0; }
  bool TransportError() const noexcept { return failure != Failure::None; }
};

// The text for a driver result code: 0 "ok", 99999, 1002, 1003, the virtual
// instrument's codes 3001..3007, and "device error <code>" for any other.
std::string ResultText(std::int32_t code);

// A Status for a result code answered by the driver (failure None).
Status StatusFromCode(std::int32_t code);

struct ClientOptions {
  std::uint32_t connectTimeoutMs = 5000;  // TCP connect to the driver
  // Waiting for the answer to an ordinary request (every request but the
  // two below and the connects): the longest wait from the send until the
  // answer begins, and the longest pause between bytes once it arrives, so a
  // large answer that keeps flowing is never cut off.
  std::uint32_t answerTimeoutMs = 30000;
  // The same for GetMeasure and GetSample: the driver may poll the
  // instrument for up to 5 s per sample before it answers.
  std::uint32_t measureTimeoutMs = 120000;
  // Largest answer body accepted; a larger announced size is Failure::TooLarge
  // and nothing is allocated for it.
  std::uint32_t maxAnswerBytes = 512u * 1024u * 1024u;
};

// Reported while the caller waits for an answer.
struct Progress {
  bool receiving = false;       // false until the answer's header has arrived
  std::uint64_t elapsedMs = 0;  // since the request was sent
  std::uint64_t received = 0;   // body bytes so far
  std::uint64_t total = 0;      // body size announced by the header; 0 while unknown
};
// Called about every 200 ms while waiting for the answer to begin, then after
// every partial read of the body (received grows to total; the last call has
// received == total). Must not call back into the Client.
using ProgressCallback = std::function<void(const Progress&)>;

struct JobsAnswer {
  Status status;
  std::vector<JobAdvancedInfo> jobs;  // as answered, also with a non-zero code
};

struct MeasurementAnswer {
  Status status;
  VantorelMeasurementsFull data;  // as answered; empty on a transport failure
};

struct LogAnswer {
  Status status;
  std::string text;  // the log without the terminating zero byte
};

// One frame as it arrived; typeId holds all 64 bits of the header's field.
struct RawFrame {
  std::uint32_t size = 0;
  std::uint64_t typeId = 0;
  std::vector<std::uint8_t> body;  // exactly `size` bytes
};

struct FrameAnswer {
  Status status;  // failure None and code 0 when a whole frame arrived
  RawFrame frame;
};

class Client {
 public:
  explicit Client(ClientOptions options = {});
  ~Client();  // closes the connection
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Opens a TCP connection to the driver (closing any previous one), with
  // TCP_NODELAY set. Failure::CannotConnect (Failure::CannotResolve when the
  // host name does not resolve) with the text
  // "cannot connect to <host>:<port>: <reason>".
  Status Connect(const std::string& host = "127.0.0.1", std::uint16_t port = Protocol::kPort);
  void Close();
  bool IsConnected() const { return socket_ != Platform::kInvalidSocket; }

  const ClientOptions& Options() const { return options_; }
  void SetOptions(const ClientOptions& options) { options_ = options; }
  // Replaces the progress callback; an empty function switches it off.
  void SetProgressCallback(ProgressCallback callback) { progress_ = std::move(callback); }

  // ---- One call per request. Each blocks until the answer is complete. ----

  // Id 1. The driver answers within about timeoutMs, so the call waits
  // timeoutMs plus answerTimeoutMs (without limit for Platform::kWaitForever).
  Status ConnectUsb(std::uint32_t timeoutMs);
  // Id 7, answered under id 1. `address` is handed to the instrument as is.
  Status ConnectNetwork(std::array<std::uint8_t, 4> address, std::uint32_t timeoutMs);
  JobsAnswer GetJobs();  // id 2
  Status AddJob(const std::string& name, const std::string& make,
                std::uint32_t sampleCount);   // id 8
  Status DeleteJob(const std::string& name);  // id 4
  Status DoJob(const std::string& name);      // id 9
  Status Cancel();                            // id 10
  // Ids 5 and 6.
  MeasurementAnswer GetMeasure(const std::string& name);
  MeasurementAnswer GetSample(const std::string& name, std::int32_t index);
  // The same into `answer`, replacing all it held; its earlier images lend
  // their memory to the new ones, and the answer is decoded while it
  // arrives, the image bytes going from the socket straight into that
  // memory. An application that fetches results again and again and keeps
  // one MeasurementAnswer thus receives at the speed of a raw read into a
  // warm buffer.
  void GetMeasure(const std::string& name, MeasurementAnswer& answer);
  void GetSample(const std::string& name, std::int32_t index, MeasurementAnswer& answer);
  LogAnswer GetLog();                                  // id 12
  Status SendUserMessage(const std::u32string& text);  // id 11
  // The same with UTF-8 text; Failure::InvalidArgument (nothing sent) when
  // the text is not valid UTF-8.
  Status SendUserMessage(const std::string& utf8Text);
  // Id 3. The driver sends no answer and ends: succeeds (code 0) when the
  // driver closes the connection in order within closeTimeoutMs; any byte
  // that arrives instead is Failure::UnexpectedType. A reset is
  // Failure::Closed: the request was not read (typically the connection
  // waited in the queue of a listening socket that the driver closed when it
  // took another client, and the driver goes on running), so sending it
  // again is safe. The connection is closed afterwards.
  Status Terminate(std::uint32_t closeTimeoutMs = 10000);

  // ---- Raw access for byte-exact tests. ----

  // Sends the bytes as they are, in one send where the system allows.
  Status SendRaw(const void* bytes, std::size_t count);
  Status SendRaw(const std::vector<std::uint8_t>& bytes) {
    return SendRaw(bytes.data(), bytes.size());
  }
  // Sends one frame: header (size, zero reserved bytes, typeId) and body.
  Status SendFrame(std::uint64_t typeId, const std::vector<std::uint8_t>& body);
  // Waits up to timeoutMs for one whole frame (size limit as for answers).
  FrameAnswer ReceiveFrame(std::uint32_t timeoutMs);

 private:
  // A received answer body. Bodies up to kReusedBufferLimit land in the
  // Client's reused buffer (valid until the next receive); larger ones get
  // a buffer of their own, freed with the Body.
  struct Body {
    std::uint32_t size = 0;
    std::uint64_t typeId = 0;
    const std::uint8_t* data = nullptr;  // never null once received
    std::unique_ptr<std::uint8_t[]> own;
  };
  static constexpr std::size_t kReusedBufferLimit = 64u * 1024u * 1024u;

  // One answer on its way in: the limit and clock of its waits, and what the
  // progress callback is told.
  struct Receipt {
    std::uint32_t timeoutMs = 0;
    std::uint64_t start = 0;
    std::uint64_t lastActivity = 0;
    bool inBody = false;         // the header is in
    std::uint32_t size = 0;      // the body size the header announced
    std::uint64_t typeId = 0;    // all 64 bits of the header's field
    std::uint64_t received = 0;  // body bytes so far
  };
  // Streams a measurement answer's body to its decoder (Client.cpp).
  class BodySource;

  Status Fail(Failure failure, std::string text);
  // Hands every byte of `parts` to the socket, gathered (one system call
  // where the peer's window allows); a driver that takes no byte for the
  // answer time-out fails the send.
  Status SendParts(const Platform::ConstBuffer* parts, std::size_t count);
  Receipt StartReceipt(std::uint32_t timeoutMs) const;
  void Report(const Receipt& receipt);
  // Receives between `atLeast` (1 or more) and `atMost` bytes into `target`,
  // waiting as the receipt's time-out allows; `got` tells how many. Never
  // sleeps: it blocks in WaitReady only while nothing is there.
  Status ReceiveSome(Receipt& receipt, std::uint8_t* target, std::size_t atLeast,
                     std::size_t atMost, std::size_t& got);
  // Receives a frame header and checks it: the type id (answerId 0 accepts
  // any) and the size limit.
  Status ReceiveHeader(std::uint32_t answerId, Receipt& receipt);
  // Receives one frame; answerId 0 accepts any type id.
  Status ReceiveBody(std::uint32_t answerId, std::uint32_t timeoutMs, Body& body);
  // Sends a frame, then receives the answer expected under `answerId`.
  Status Exchange(std::uint64_t requestId, const std::vector<std::uint8_t>& request,
                  std::uint32_t answerId, std::uint32_t timeoutMs, Body& answer);
  Status ExchangeCode(std::uint64_t requestId, const std::vector<std::uint8_t>& request,
                      std::uint32_t answerId, std::uint32_t timeoutMs);
  void ExchangeMeasurement(std::uint64_t requestId, const std::vector<std::uint8_t>& request,
                           MeasurementAnswer& result);

  ClientOptions options_;
  ProgressCallback progress_;
  Platform::SocketHandle socket_ = Platform::kInvalidSocket;
  // Kept across calls (like the driver's receive buffer): a warm buffer
  // spares every later answer the cost of fresh pages.
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t bufferCapacity_ = 0;
};

}  // namespace vantorel
