// driver_bench: times the real driver process (with the virtual instrument)
// against plain loopback TCP, and reports the driver's peak memory during a
// measurement request.
//
//   (a) round trip of a cancel request (17-byte frame, 20-byte answer) over
//       one connection, against a ping-pong of the same sizes with a small
//       peer of our own;
//   (b) one sample answer of about 20 MB (image size computed from a first
//       run) in MB/s, against a loopback transfer of the same byte count;
//   (c) the driver's VmHWM before and after a measurement of 1 and of 20
//       samples, each with a fresh driver.
//
// Usage: driver_bench [round trips, default 5000] [sample answer MB, default 20]
// Linux only; uses port 8889 and must not run beside the integration suite.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "client/Client.h"
#include "integration/DriverProcess.h"
#include "integration/RawSocket.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using integration::DriverProcess;
using integration::Environment;
using integration::RawSocket;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
  return values[at];
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "driver_bench: %s\n", what.c_str());
  std::exit(1);
}

Bytes Text(const std::string& text) {
  Bytes bytes = integration::Le32(static_cast<std::uint32_t>(text.size()));
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

// A loopback peer of our own: accepts one client on an ephemeral port, then
// answers every `requestSize` bytes it reads with `answer`, until the client
// leaves.
class LoopbackPeer {
 public:
  LoopbackPeer(std::size_t requestSize, Bytes answer)
      : requestSize_(requestSize), answer_(std::move(answer)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Fail("loopback peer cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackPeer() {
    thread_.join();
    ::close(listener_);
  }
  std::uint16_t Port() const { return port_; }

 private:
  void Serve() {
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Bytes request(requestSize_);
    for (;;) {
      std::size_t got = 0;
      while (got < request.size()) {
        const ssize_t n = ::recv(client, request.data() + got, request.size() - got, 0);
        if (n <= 0) {
          ::close(client);
          return;
        }
        got += static_cast<std::size_t>(n);
      }
      std::size_t sent = 0;
      while (sent < answer_.size()) {
        const ssize_t n =
            ::send(client, answer_.data() + sent, answer_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
          ::close(client);
          return;
        }
        sent += static_cast<std::size_t>(n);
      }
    }
  }

  std::size_t requestSize_;
  Bytes answer_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// Sends `request` and reads one whole frame: `expected` bytes, or the size
// its header announces when `expected` is 0. Returns the bytes read; the time
// the first 16 bytes had arrived goes to `*headerAt` when given.
std::size_t Exchange(RawSocket& socket, const Bytes& request, std::size_t expected,
                     Clock::time_point* headerAt = nullptr) {
  if (!socket.SendAll(request)) Fail("send failed");
  const Bytes header = socket.Read(16, 60000);
  if (header.size() != 16) Fail("no answer header");
  if (headerAt != nullptr) *headerAt = Clock::now();
  std::size_t rest = expected >= 16 ? expected - 16 : 0;
  if (expected == 0) {
    rest = header[0] | (header[1] << 8) | (header[2] << 16) |
           (static_cast<std::uint32_t>(header[3]) << 24);
  }
  return 16 + socket.Read(rest, 60000).size();
}

struct Timing {
  double medianUs = 0;
  double p99Us = 0;
};

Timing RoundTrips(RawSocket& socket, const Bytes& request, std::size_t answerSize, int count) {
  for (int i = 0; i < 200; ++i) Exchange(socket, request, answerSize);  // warm-up
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const Clock::time_point start = Clock::now();
    if (Exchange(socket, request, answerSize) != answerSize) Fail("short answer");
    times.push_back(Micros(Clock::now() - start));
  }
  return {Percentile(times, 0.5), Percentile(times, 0.99)};
}

struct Transfer {
  double totalSeconds = 0;   // request sent until the last byte
  double streamSeconds = 0;  // first 16 bytes until the last byte
  std::size_t bytes = 0;
};

// Medians over `runs` transfers of one request and its answer.
Transfer Transfers(RawSocket& socket, const Bytes& request, std::size_t answerSize, int runs) {
  std::vector<double> totals, streams;
  Transfer result;
  for (int i = 0; i < runs; ++i) {
    Clock::time_point headerAt;
    const Clock::time_point start = Clock::now();
    result.bytes = Exchange(socket, request, answerSize, &headerAt);
    const Clock::time_point end = Clock::now();
    totals.push_back(Micros(end - start) / 1e6);
    streams.push_back(Micros(end - headerAt) / 1e6);
  }
  result.totalSeconds = Percentile(totals, 0.5);
  result.streamSeconds = Percentile(streams, 0.5);
  return result;
}

void ConnectRaw(RawSocket& socket, std::uint16_t port) {
  const Clock::time_point start = Clock::now();
  while (socket.Connect(port, 1000) != 0) {
    if (Clock::now() - start > std::chrono::seconds(10)) Fail("cannot connect to the driver");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ConnectClient(vantorel::Client& client) {
  const Clock::time_point start = Clock::now();
  while (!client.Connect().Ok()) {
    if (Clock::now() - start > std::chrono::seconds(10)) Fail("cannot connect to the driver");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

Environment Instrument(int imagePx) {
  return {{"VANTOREL_SIM_CONNECT_MS", "0"},
          {"VANTOREL_SIM_SAMPLE_MS", "0"},
          {"VANTOREL_SIM_IMAGE_PX", std::to_string(imagePx)}};
}

// Starts a driver, connects the instrument and measures job "bench" with
// `samples` samples. The client stays connected.
void PrepareDriver(DriverProcess& driver, vantorel::Client& client, int imagePx, int samples) {
  if (!driver.StartAndWait(Instrument(imagePx))) Fail(driver.Failure());
  ConnectClient(client);
  if (!client.ConnectUsb(10000).Ok()) Fail("instrument connect failed");
  if (!client.AddJob("bench", "Silver Metallic", static_cast<std::uint32_t>(samples)).Ok() ||
      !client.DoJob("bench").Ok()) {
    Fail("job not stored or not run");
  }
  for (;;) {
    const vantorel::JobsAnswer jobs = client.GetJobs();
    if (!jobs.status.Ok() || jobs.jobs.empty()) Fail("job list failed");
    if (jobs.jobs.back().state == 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Bytes SampleRequest() {
  Bytes body = Text("bench");
  const Bytes index = integration::Le32(0);
  body.insert(body.end(), index.begin(), index.end());
  return integration::Frame(6, body);
}

long VmHwmKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int roundTrips = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
  const double targetMb = argc > 2 ? std::max(1.0, std::atof(argv[2])) : 20.0;
  if (integration::WineMode()) Fail("run natively (VANTOREL_DRIVER_WINE is set)");
  std::printf("driver: %s\n\n", integration::DriverExecutable().c_str());

  // (a) Cancel round trips.
  const Bytes cancel = integration::Frame(10, {0});
  Timing driverTrip, rawTrip;
  {
    DriverProcess driver;
    if (!driver.StartAndWait(Instrument(32))) Fail(driver.Failure());
    RawSocket socket;
    ConnectRaw(socket, 8889);
    driverTrip = RoundTrips(socket, cancel, 20, roundTrips);
  }
  {
    LoopbackPeer peer(cancel.size(), Bytes(20, 0));
    RawSocket socket;
    ConnectRaw(socket, peer.Port());
    rawTrip = RoundTrips(socket, cancel, 20, roundTrips);
  }

  // (b) One large sample answer. A first driver with 256 px images gives the
  // answer size; the image side for the target size follows from it (the
  // EXR bytes grow with the pixel count).
  const Bytes sampleRequest = SampleRequest();
  int imagePx = 256;
  {
    DriverProcess driver;
    vantorel::Client client;
    PrepareDriver(driver, client, imagePx, 1);
    client.Close();
    RawSocket socket;
    ConnectRaw(socket, 8889);
    const std::size_t size = Exchange(socket, sampleRequest, 0);
    imagePx = static_cast<int>(
        std::lround(imagePx * std::sqrt(targetMb * 1e6 / static_cast<double>(size))));
    imagePx = std::clamp(imagePx, 4, 4096);
  }
  Transfer driverTransfer, rawTransfer;
  {
    DriverProcess driver;
    vantorel::Client client;
    PrepareDriver(driver, client, imagePx, 1);
    client.Close();
    RawSocket socket;
    ConnectRaw(socket, 8889);
    Exchange(socket, sampleRequest, 0);  // warm-up
    driverTransfer = Transfers(socket, sampleRequest, 0, 5);
  }
  {
    LoopbackPeer peer(sampleRequest.size(), Bytes(driverTransfer.bytes, 0x5A));
    RawSocket socket;
    ConnectRaw(socket, peer.Port());
    Exchange(socket, sampleRequest, driverTransfer.bytes);  // warm-up
    rawTransfer = Transfers(socket, sampleRequest, driverTransfer.bytes, 5);
  }
  const double mb = static_cast<double>(driverTransfer.bytes) / 1e6;

  // (c) Peak memory of the driver around a measurement request.
  struct Peak {
    int samples;
    long beforeKb;
    long afterKb;
    double seconds;
  };
  std::vector<Peak> peaks;
  for (const int samples : {1, 20}) {
    DriverProcess driver;
    vantorel::Client client;
    PrepareDriver(driver, client, imagePx, samples);
    const long before = VmHwmKb(driver.Pid());
    const Clock::time_point start = Clock::now();
    const vantorel::MeasurementAnswer answer = client.GetMeasure("bench");
    const double seconds = Micros(Clock::now() - start) / 1e6;
    if (!answer.status.Ok()) Fail("measurement failed: " + answer.status.text);
    peaks.push_back({samples, before, VmHwmKb(driver.Pid()), seconds});
  }

  std::printf("(a) cancel round trip, %d trips over one connection\n", roundTrips);
  std::printf("    %-22s %12s %12s\n", "", "median us", "p99 us");
  std::printf("    %-22s %12.1f %12.1f\n", "driver", driverTrip.medianUs, driverTrip.p99Us);
  std::printf("    %-22s %12.1f %12.1f\n", "raw loopback", rawTrip.medianUs, rawTrip.p99Us);
  std::printf("    ratio driver/raw: median %.2fx, p99 %.2fx (goal <= 1.5x)\n\n",
              driverTrip.medianUs / rawTrip.medianUs, driverTrip.p99Us / rawTrip.p99Us);

  std::printf("(b) sample answer of %.1f MB (images %d px), median of 5\n", mb, imagePx);
  std::printf("    %-14s %12s %12s %14s %12s\n", "", "total s", "MB/s", "stream s", "MB/s");
  for (const auto& [name, t] : {std::pair<const char*, Transfer>{"driver", driverTransfer},
                                std::pair<const char*, Transfer>{"raw loopback", rawTransfer}}) {
    std::printf("    %-14s %12.4f %12.1f %14.4f %12.1f\n", name, t.totalSeconds,
                mb / t.totalSeconds, t.streamSeconds, mb / t.streamSeconds);
  }
  std::printf("    (total: request sent to last byte; stream: first byte to last byte)\n");
  std::printf("    ratio driver/raw: total %.2fx, stream %.2fx of the raw rate (goal >= 0.5x)\n\n",
              rawTransfer.totalSeconds / driverTransfer.totalSeconds,
              rawTransfer.streamSeconds / driverTransfer.streamSeconds);

  std::printf("(c) driver peak resident memory (VmHWM) around a measurement request\n");
  std::printf("    %-10s %14s %14s %12s %10s\n", "samples", "before MB", "after MB", "growth MB",
              "seconds");
  for (const Peak& peak : peaks) {
    std::printf("    %-10d %14.1f %14.1f %12.1f %10.2f\n", peak.samples, peak.beforeKb / 1024.0,
                peak.afterKb / 1024.0, (peak.afterKb - peak.beforeKb) / 1024.0, peak.seconds);
  }
  return 0;
}
