// Shared set-up of the driver's unit tests: a DriverInvoker with a fake
// device, a recording glue and a scripted connection.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/GlueInterface.h"
#include "driver/DriverInvoker.h"
#include "fakes/FakeConnection.h"
#include "fakes/FakeDevice.h"
#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"
#include "messages/Messages.h"

// Records each glue call with the record set's sizes at that moment; its
// FillResult leaves one geometry with an image.
class RecordingGlue final : public GlueInterface {
 public:
  struct Call {
    std::string name;
    std::size_t measurements;
    std::size_t images;
  };
  std::vector<Call> calls;
  VantorelMeasurementsFull fillWith;

  void AddSample(VantorelMeasurementsFull* r) override { Record("AddSample", *r); }
  void FillResult(VantorelMeasurementsFull* r) override {
    Record("FillResult", *r);
    *r = fillWith;
  }
  void SampleRead(VantorelMeasurementsFull* r) override { Record("SampleRead", *r); }
  void ResultReady(VantorelMeasurementsFull* r) override { Record("ResultReady", *r); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Call& c : calls) names.push_back(c.name);
    return names;
  }

 private:
  void Record(const char* name, const VantorelMeasurementsFull& r) {
    calls.push_back({name, r.measurements.size(), r.images.size()});
  }
};

struct Frame {
  std::uint32_t size = 0;
  std::uint64_t type = 0;
  std::vector<std::uint8_t> body;
};

// A driver wired to fakes. Requests are queued with Add* and served by Serve,
// which returns the frames the driver sent (one per Send call).
class DriverHarness {
 public:
  DriverHarness() {
    driver.device = &device;
    driver.glue = &glue;
    driver.readinessPollMs = 1;
    Reconnect();
  }
  ~DriverHarness() { delete driver.connection; }

  void Reconnect() {
    delete driver.connection;
    connection = new FakeConnection;
    driver.connection = connection;
    driver.RegisterHandlers(*connection);
  }

  void AddRaw(std::uint64_t type, const std::vector<std::uint8_t>& body) {
    connection->AddBytes(Protocol::BuildFrame(type, body));
  }
  template <typename Msg>
  void AddSerialized(std::uint64_t type, Msg msg, void (*fn)(ByteBuffer&, Msg&)) {
    ByteBuffer buffer(128, true);
    fn(buffer, msg);
    AddRaw(type, std::vector<std::uint8_t>(buffer.Data(), buffer.Data() + buffer.Size()));
  }

  std::vector<Frame> Serve() {
    const std::size_t before = connection->SendCalls().size();
    connection->ReceiveWithHandlers(-1);
    std::vector<Frame> frames;
    const auto& sends = connection->SendCalls();
    for (std::size_t i = before; i < sends.size(); ++i) {
      Frame f;
      std::memcpy(&f.size, sends[i].data(), 4);
      std::memcpy(&f.type, sends[i].data() + 8, 8);
      f.body.assign(sends[i].begin() + 16, sends[i].end());
      frames.push_back(std::move(f));
    }
    return frames;
  }

  static std::int32_t Code(const Frame& frame) {
    std::int32_t code = 0;
    if (frame.body.size() == 4) std::memcpy(&code, frame.body.data(), 4);
    return frame.body.size() == 4 ? code : -424242;
  }
  template <typename Msg>
  static Msg Decode(const Frame& frame, void (*fn)(ByteBuffer&, Msg&)) {
    Msg msg{};
    ByteBuffer buffer(frame.body.data(), frame.body.size(), false);
    fn(buffer, msg);
    return msg;
  }

  Fakes::FakeDevice device;
  RecordingGlue glue;
  DriverInvoker driver;
  FakeConnection* connection = nullptr;  // owned by driver.connection
};
