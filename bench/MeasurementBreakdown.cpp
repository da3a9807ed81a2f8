#include "MeasurementBreakdown.h"

#include <array>
#include <atomic>
#include <thread>
#include <utility>

#include "BenchSupport.h"
#include "colour/Colorimetry.h"
#include "colour/ExrCodec.h"
#include "colour/ExrCorrection.h"
#include "device/DeviceValues.h"
#include "driver/DriverInvoker.h"
#include "network/Connection.h"
#include "platform/Socket.h"
#include "sim/glue/CombiningGlue.h"
#include "sim/instrument/VirtualInstrument.h"

namespace bench {
namespace {

namespace dv = Vexil::Device_Cpp;

double MillisSince(Clock::time_point start) { return Micros(Clock::now() - start) / 1000.0; }

// Adds the time of each call to one of two sums, and keeps what the driver
// asked to correct.
class TimedDevice final : public dv::DeviceInterface {
 public:
  explicit TimedDevice(dv::DeviceInterface& inner) : inner_(inner) {}

  double readMs = 0;
  double correctionMs = 0;
  std::vector<std::pair<std::vector<std::uint8_t>, std::array<float, colour::kSpectrumSize>>>
      corrected;

  std::int32_t SetLogger(dv::LogInterface* logger) override { return inner_.SetLogger(logger); }
  std::int32_t ConnectUsb(std::int32_t port) override { return inner_.ConnectUsb(port); }
  std::int32_t ConnectNetwork(const std::uint8_t* address4) override {
    return inner_.ConnectNetwork(address4);
  }
  std::int32_t GetState(dv::State& state) override {
    return Timed(readMs, [&] { return inner_.GetState(state); });
  }
  std::int32_t DoJob(dv::IString& job) override { return inner_.DoJob(job); }
  std::int32_t GetSample(dv::IString& job, std::int32_t sampleIndex,
                         dv::IStringVector& imageChannels, dv::IStringVector& spectralChannels,
                         dv::ImageChannelContentTypeVector& imageTypes,
                         dv::SpectralChannelContentTypeVector& spectralTypes, std::int32_t option1,
                         std::int32_t option2, dv::SampleInfo& info, dv::ImageContentVector& images,
                         dv::SpectrumContentVector& spectra) override {
    return Timed(readMs, [&] {
      return inner_.GetSample(job, sampleIndex, imageChannels, spectralChannels, imageTypes,
                              spectralTypes, option1, option2, info, images, spectra);
    });
  }
  std::int32_t Cancel() override { return inner_.Cancel(); }
  std::int32_t GetJobs(dv::JobInfoVector& jobs) override {
    return Timed(readMs, [&] { return inner_.GetJobs(jobs); });
  }
  std::int32_t AddJob(dv::IJobDescription& job) override { return inner_.AddJob(job); }
  std::int32_t DeleteJob(dv::IString& job) override { return inner_.DeleteJob(job); }
  std::int32_t GetLog(dv::IUintVector8& log) override { return inner_.GetLog(log); }
  std::int32_t SendUserMessage(dv::IString32& text) override {
    return inner_.SendUserMessage(text);
  }
  std::int32_t CorrectExrImage(dv::IUintVector8& in, dv::IUintVector8& out,
                               dv::IFloatVector& spectral) override {
    const std::int32_t code =
        Timed(correctionMs, [&] { return inner_.CorrectExrImage(in, out, spectral); });
    std::array<float, colour::kSpectrumSize> values{};
    for (std::size_t i = 0; i < values.size() && i < spectral.Items().size(); ++i) {
      values[i] = spectral.Items()[i];
    }
    corrected.emplace_back(in.Items(), values);
    return code;
  }

 private:
  template <typename Call>
  static std::int32_t Timed(double& sum, Call call) {
    const Clock::time_point start = Clock::now();
    const std::int32_t code = call();
    sum += MillisSince(start);
    return code;
  }

  dv::DeviceInterface& inner_;
};

class TimedGlue final : public GlueInterface {
 public:
  explicit TimedGlue(GlueInterface& inner) : inner_(inner) {}
  double ms = 0;

  void AddSample(VantorelMeasurementsFull* r) override {
    Timed([&] { inner_.AddSample(r); });
  }
  void FillResult(VantorelMeasurementsFull* r) override {
    Timed([&] { inner_.FillResult(r); });
  }
  void SampleRead(VantorelMeasurementsFull* r) override {
    Timed([&] { inner_.SampleRead(r); });
  }
  void ResultReady(VantorelMeasurementsFull* r) override {
    Timed([&] { inner_.ResultReady(r); });
  }

 private:
  template <typename Call>
  void Timed(Call call) {
    const Clock::time_point start = Clock::now();
    call();
    ms += MillisSince(start);
  }
  GlueInterface& inner_;
};

// A socket connection whose sends are timed.
class TimedConnection final : public Network::Connection {
 public:
  using Network::Connection::Connection;
  double sendMs = 0;
  std::size_t bytes = 0;

 protected:
  Platform::SendStatus SendParts(const Platform::ConstBuffer* parts, std::size_t count) override {
    const Clock::time_point start = Clock::now();
    const Platform::SendStatus status = Network::Connection::SendParts(parts, count);
    sendMs += MillisSince(start);
    for (std::size_t i = 0; i < count; ++i) bytes += parts[i].size;
    return status;
  }
};

// The client end of the loopback connection: reads and drops everything.
void Drain(Platform::SocketHandle socket) {
  std::vector<std::uint8_t> sink(1 << 20);
  for (;;) {
    const Platform::IoResult io = Platform::ReceiveSome(socket, sink.data(), sink.size());
    if (io.status != Platform::IoStatus::Transferred) return;
  }
}

bool JobMeasured(dv::DeviceInterface& device, const std::string& name) {
  dv::JobInfoVector jobs;
  if (device.GetJobs(jobs) != 0) return false;
  for (dv::IJobInfo& job : jobs.Items()) {
    if (job.description().identifier().Text() == name) {
      return job.modeInfo().stateCode() == 2004;
    }
  }
  return false;
}

}  // namespace

BreakdownRuns MeasureBreakdown(int imagePx, int samples, int runs) {
  instrument::SimConfig config;
  config.connectMs = 0;
  config.sampleMs = 0;
  config.imagePx = imagePx;
  instrument::VirtualInstrument instrument(config);
  CombiningGlue combining;
  TimedDevice device(instrument);
  TimedGlue glue(combining);

  Platform::InitSocketLayer();
  const Platform::ListenResult listening = Platform::OpenListeningSocket(0);
  if (listening.socket == Platform::kInvalidSocket) Fail("breakdown: cannot listen");
  const std::uint16_t port = Platform::LocalPort(listening.socket);
  Platform::SocketHandle clientEnd = Platform::kInvalidSocket;
  std::thread connector([&] { clientEnd = Platform::ConnectTo("127.0.0.1", port, 5000).socket; });
  const Platform::SocketHandle serverEnd = Platform::AcceptClient(listening.socket, nullptr);
  connector.join();
  Platform::CloseSocket(listening.socket);
  if (serverEnd == Platform::kInvalidSocket || clientEnd == Platform::kInvalidSocket) {
    Fail("breakdown: no loopback connection");
  }
  Platform::SetNoDelay(serverEnd, true);
  std::thread drainer(Drain, clientEnd);

  auto* connection = new TimedConnection(serverEnd);
  DriverInvoker driver;
  driver.device = &device;
  driver.glue = &glue;
  driver.connection = connection;
  driver.RegisterHandlers(*connection);

  driver.UsbConnect(10000);
  if (!driver.deviceConnected) Fail("breakdown: the instrument did not connect");
  driver.AddJob("bench", "Silver Metallic", static_cast<std::uint32_t>(samples));
  driver.DoJob("bench");
  const Clock::time_point measuring = Clock::now();
  while (!JobMeasured(instrument, "bench")) {
    if (Clock::now() - measuring > std::chrono::minutes(5)) Fail("breakdown: job not measured");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  // One request, timed; `correct` repeats the correction phase by phase.
  auto timed = [&](auto request, bool correct) {
    device.readMs = device.correctionMs = 0;
    device.corrected.clear();
    glue.ms = 0;
    connection->sendMs = 0;
    connection->bytes = 0;
    const Clock::time_point start = Clock::now();
    request();
    Breakdown b;
    b.totalMs = MillisSince(start);
    b.deviceReadMs = device.readMs;
    b.glueMs = glue.ms;
    b.correctionMs = device.correctionMs;
    b.sendMs = connection->sendMs;
    b.otherMs = b.totalMs - b.deviceReadMs - b.glueMs - b.correctionMs - b.sendMs;
    b.answerBytes = connection->bytes;
    b.images = device.corrected.size();
    for (const auto& [exr, spectrum] : device.corrected) {
      if (!correct) break;
      colour::Image image;
      Clock::time_point at = Clock::now();
      if (!colour::DecodeExr(exr, image)) Fail("breakdown: an image does not decode");
      b.decodeMs += MillisSince(at);
      at = Clock::now();
      colour::CorrectImage(image, colour::SpectrumToLinearSrgb(colour::SpectrumView(spectrum)));
      b.scaleMs += MillisSince(at);
      at = Clock::now();
      if (colour::EncodeExr(image).empty()) Fail("breakdown: an image does not encode");
      b.encodeMs += MillisSince(at);
    }
    return b;
  };

  BreakdownRuns results;
  driver.GetSample("bench", 0);  // warm-up
  for (int run = 0; run < runs; ++run) {
    results.sample.push_back(timed([&] { driver.GetSample("bench", 0); }, false));
  }
  for (int run = 0; run < runs; ++run) {
    results.measure.push_back(timed([&] { driver.GetMeasure("bench"); }, true));
  }

  delete driver.connection;
  driver.connection = nullptr;
  drainer.join();
  Platform::CloseSocket(clientEnd);
  return results;
}

}  // namespace bench
