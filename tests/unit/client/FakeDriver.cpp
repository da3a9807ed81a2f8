#include "FakeDriver.h"

#include <cstring>

#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"

namespace clienttest {
namespace {
constexpr std::uint32_t kPatienceMs = 10000;
}

std::optional<vantorel::RawFrame> Peer::ReadFrame() {
  std::optional<WireFrame> read = wire_.ReadFrame(kPatienceMs);
  if (!read) return std::nullopt;
  vantorel::RawFrame frame{read->size, read->typeId, std::move(read->body)};
  owner_.Record(frame);
  return frame;
}

bool Peer::Send(const std::vector<std::uint8_t>& bytes) { return wire_.Send(bytes); }

bool Peer::SendFrame(std::uint64_t type, const std::vector<std::uint8_t>& body) {
  return Send(Protocol::BuildFrame(type, body));
}

bool Peer::SendCode(std::uint64_t type, std::int32_t code) {
  std::vector<std::uint8_t> body(4);
  std::memcpy(body.data(), &code, 4);
  return SendFrame(type, body);
}

bool Peer::WaitForClose() { return wire_.WaitClosed(kPatienceMs); }

bool Peer::WaitForBytes() { return wire_.WaitNext(kPatienceMs) == RawClient::Next::Data; }

FakeDriver::FakeDriver(std::vector<Script> scripts) {
  Platform::InitSocketLayer();
  const Platform::ListenResult listen = Platform::OpenListeningSocket(0);
  listener_ = listen.socket;
  port_ = Platform::LocalPort(listener_);
  thread_ =
      std::thread([this, scripts = std::move(scripts)]() mutable { Serve(std::move(scripts)); });
}

FakeDriver::~FakeDriver() {
  thread_.join();
  Platform::CloseSocket(listener_);
}

void FakeDriver::Serve(std::vector<Script> scripts) {
  for (Script& script : scripts) {
    const auto wait = Platform::WaitReady(listener_, Platform::Readiness::Read, kPatienceMs);
    if (wait.status != Platform::WaitStatus::Ready) return;
    const Platform::SocketHandle socket = Platform::AcceptClient(listener_, nullptr);
    if (socket == Platform::kInvalidSocket) return;
    Peer peer(socket, *this);
    script(peer);
  }
}

void FakeDriver::Record(const vantorel::RawFrame& frame) {
  std::lock_guard lock(mutex_);
  frames_.push_back(frame);
}

std::vector<vantorel::RawFrame> FakeDriver::Frames() {
  std::lock_guard lock(mutex_);
  return frames_;
}

void PutU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutString(std::vector<std::uint8_t>& bytes, const std::string& text) {
  PutU32(bytes, static_cast<std::uint32_t>(text.size()));
  bytes.insert(bytes.end(), text.begin(), text.end());
}

std::vector<std::uint8_t> JobListBody(std::int32_t result,
                                      const std::vector<JobAdvancedInfo>& jobs) {
  std::vector<std::uint8_t> body;
  PutU32(body, static_cast<std::uint32_t>(result));
  PutU32(body, static_cast<std::uint32_t>(jobs.size()));
  for (const JobAdvancedInfo& job : jobs) {
    PutString(body, job.name);
    PutU32(body, job.state);
    PutU32(body, static_cast<std::uint32_t>(job.sampleCount));
    body.push_back(job.valid ? 1 : 0);
  }
  return body;
}

std::vector<std::uint8_t> MeasurementBody(std::int32_t result, VantorelMeasurementsFull data) {
  ByteBuffer buffer(64, true);
  buffer.Process(result);
  Process(buffer, data);
  return buffer.Release();
}

VantorelMeasurementsFull MakeMeasurement(std::size_t imageBytes) {
  VantorelMeasurementsFull data;
  for (int a = R15As_45; a <= R45As110; ++a) {
    const auto angle = static_cast<SpectrumAngle>(a);
    VantorelMeasurements m{};
    m.index = a;
    m.angle = angle;
    for (std::size_t i = 0; i < m.spectrum.size(); ++i)
      m.spectrum[i] = 0.01f * static_cast<float>(i + a);
    m.lab = {50.0f + a, 1.5f * a, -2.0f * a};
    data.measurements[angle] = m;
    if (imageBytes == 0) continue;
    VantorelImage image;
    image.exr.resize(imageBytes);
    for (std::size_t i = 0; i < imageBytes; ++i)
      image.exr[i] = static_cast<std::uint8_t>(i * 7 + a);
    data.images[angle] = image;
  }
  return data;
}

}  // namespace clienttest
