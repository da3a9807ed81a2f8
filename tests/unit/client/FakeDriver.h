// FakeDriver: a scripted stand-in for the driver on an ephemeral loopback
// port, for the client and vantorelctl tests. It accepts connections one
// after the other and runs a script on each (a function given a Peer) on its
// own thread; the script reads the client's frames and answers with any
// bytes it likes, including broken ones.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "client/Client.h"
#include "fakes/RawClient.h"
#include "platform/Socket.h"

namespace clienttest {

// One accepted connection, seen from the fake's side.
class FakeDriver;

class Peer {
 public:
  // Owns the accepted `socket` and closes it when the script is done.
  Peer(Platform::SocketHandle socket, FakeDriver& owner) : owner_(owner) { wire_.Adopt(socket); }
  // The next whole frame from the client, or nothing when the client closed
  // the connection or nothing arrived within 10 s.
  std::optional<vantorel::RawFrame> ReadFrame();
  // Sends the bytes; false when the client has gone.
  bool Send(const std::vector<std::uint8_t>& bytes);
  // Sends a frame (zero reserved bytes).
  bool SendFrame(std::uint64_t type, const std::vector<std::uint8_t>& body);
  // Sends a bare 4-byte result code under `type`.
  bool SendCode(std::uint64_t type, std::int32_t code);
  // Waits until the client closes its end (up to 10 s); true when it did.
  bool WaitForClose();
  // Waits until bytes from the client have arrived (up to 10 s), reading
  // none: a script that returns then resets the connection (on Linux and
  // Windows; Wine closes it in order), as a driver does that closes a
  // listening socket with the connection still in its queue.
  bool WaitForBytes();

 private:
  RawClient wire_;
  FakeDriver& owner_;
};

class FakeDriver {
 public:
  using Script = std::function<void(Peer&)>;
  // Serves `scripts.size()` connections, one script each, in order.
  explicit FakeDriver(std::vector<Script> scripts);
  explicit FakeDriver(Script script) : FakeDriver(std::vector<Script>{std::move(script)}) {}
  // Joins the serving thread; it gives up waiting for a client after 10 s.
  ~FakeDriver();

  std::uint16_t Port() const { return port_; }
  // Every frame the scripts read, in order; call after the client is done.
  std::vector<vantorel::RawFrame> Frames();

 private:
  void Serve(std::vector<Script> scripts);
  void Record(const vantorel::RawFrame& frame);

  Platform::SocketHandle listener_ = Platform::kInvalidSocket;
  std::uint16_t port_ = 0;
  std::mutex mutex_;
  std::vector<vantorel::RawFrame> frames_;
  std::thread thread_;

  friend class Peer;
};

// Little-endian byte helpers for scripted bodies.
void PutU32(std::vector<std::uint8_t>& bytes, std::uint32_t value);
void PutString(std::vector<std::uint8_t>& bytes, const std::string& text);

// The body of a MsgAnswerJobInfo.
std::vector<std::uint8_t> JobListBody(std::int32_t result,
                                      const std::vector<JobAdvancedInfo>& jobs);
// The body of a MsgAnswerGetSample / MsgAnswerGetMeasure.
std::vector<std::uint8_t> MeasurementBody(std::int32_t result, VantorelMeasurementsFull data);
// A measurement with every geometry and `imageBytes` of image per geometry.
VantorelMeasurementsFull MakeMeasurement(std::size_t imageBytes);

}  // namespace clienttest
