// Client receive throughput: vantorel::Client::GetSample receiving and
// decoding a 50 MB MsgAnswerGetSample answer over loopback, next to raw
// loopback transfers of the same frame bytes in the same run:
// - raw into a warm buffer: the transfer alone, the ceiling;
// - raw into fresh memory: what first-touch page faults cost a receiver that
//   puts the bytes into newly allocated memory;
// - the client into an answer it keeps from round to round (an application
//   that fetches results again and again), against raw into a warm buffer;
// - the client into a new answer each round, against raw into fresh memory.
// One Client serves every round. The sides alternate round by round; the
// median round of each counts. Goal: client >= 0.9 x raw, like for like.
//
// Usage: client_receive_bench [--rounds 11] [--pin CPU]
// --pin CPU puts the sender and the receiver on that one CPU.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "client/Client.h"
#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"
#include "messages/Messages.h"
#include "platform/Socket.h"

namespace {

double NowMs() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

constexpr std::size_t kImageBytes = 50'000'000 / 11;

std::vector<std::uint8_t> AnswerFrame() {
  MsgAnswerGetSample answer{};
  for (int a = R15As_45; a <= R45As110; ++a) {
    const auto angle = static_cast<SpectrumAngle>(a);
    VantorelMeasurements m{};
    m.index = a;
    m.angle = angle;
    answer.data.measurements[angle] = m;
    VantorelImage image;
    image.exr.resize(kImageBytes);
    for (std::size_t i = 0; i < kImageBytes; ++i)
      image.exr[i] = static_cast<std::uint8_t>(i * 13 + a);
    answer.data.images[angle] = std::move(image);
  }
  ByteBuffer buffer(128, true);
  SerializeMsgAnswerGetSample(buffer, answer);
  const std::vector<std::uint8_t> body = buffer.Release();
  return Protocol::BuildFrame(Protocol::kGetSample, body);
}

bool SendAll(Platform::SocketHandle socket, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const Platform::IoResult io = Platform::SendSome(socket, data, count);
    if (io.status != Platform::IoStatus::Transferred) return false;
    data += io.count;
    count -= io.count;
  }
  return true;
}

bool ReceiveAll(Platform::SocketHandle socket, std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const Platform::IoResult io = Platform::ReceiveSome(socket, data, count);
    if (io.status != Platform::IoStatus::Transferred) return false;
    data += io.count;
    count -= io.count;
  }
  return true;
}

// Serves `rounds` connections: reads one frame header and body (the
// request, or the raw side's 1-byte trigger frame), then sends `frame`.
void Serve(Platform::SocketHandle listener, const std::vector<std::uint8_t>& frame, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    const Platform::SocketHandle client = Platform::AcceptClient(listener, nullptr);
    if (client == Platform::kInvalidSocket) return;
    std::uint8_t header[Protocol::kHeaderSize];
    if (ReceiveAll(client, header, sizeof header)) {
      std::vector<std::uint8_t> body(Protocol::ReadHeader(header).size);
      if (ReceiveAll(client, body.data(), body.size())) SendAll(client, frame.data(), frame.size());
    }
    // Wait for the receiver to finish and close, so that closing here never
    // cuts the stream short.
    std::uint8_t byte = 0;
    Platform::ReceiveSome(client, &byte, 1);
    Platform::CloseSocket(client);
  }
}

// Receives the frame into `into`, or into fresh memory when `into` is null.
double RawRoundMs(std::uint16_t port, std::vector<std::uint8_t>* into, std::size_t size) {
  const Platform::ConnectResult connected = Platform::ConnectTo("127.0.0.1", port, 5000);
  if (connected.socket == Platform::kInvalidSocket) return -1;
  Platform::SetNoDelay(connected.socket, true);
  const std::vector<std::uint8_t> trigger = Protocol::BuildFrame(99, {0});
  const double start = NowMs();
  std::unique_ptr<std::uint8_t[]> fresh;
  std::uint8_t* target = into != nullptr ? into->data() : nullptr;
  if (target == nullptr) {
    fresh.reset(new std::uint8_t[size]);
    target = fresh.get();
  }
  bool ok = SendAll(connected.socket, trigger.data(), trigger.size()) &&
            ReceiveAll(connected.socket, target, size);
  const double end = NowMs();
  Platform::CloseSocket(connected.socket);
  return ok ? end - start : -1;
}

// Decodes into `kept` when given, else into a new answer.
double ClientRoundMs(vantorel::Client& client, std::uint16_t port, std::size_t expectedImages,
                     vantorel::MeasurementAnswer* kept) {
  if (!client.Connect("127.0.0.1", port).Ok()) return -1;
  vantorel::MeasurementAnswer fresh;
  vantorel::MeasurementAnswer& answer = kept != nullptr ? *kept : fresh;
  const double start = NowMs();
  if (kept != nullptr) {
    client.GetSample("bench", 0, answer);
  } else {
    answer = client.GetSample("bench", 0);
  }
  const double end = NowMs();
  client.Close();  // the server waits for it before it accepts the next round
  if (!answer.status.Ok() || answer.data.images.size() != expectedImages) return -1;
  return end - start;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = std::max(3, bench::IntOption(argc, argv, "rounds", 11));
  const int pin = bench::IntOption(argc, argv, "pin", -1);
  if (pin >= 0 && !bench::PinToCpu(pin)) bench::Fail("cannot pin to CPU " + std::to_string(pin));
  Platform::InitSocketLayer();
  const std::vector<std::uint8_t> frame = AnswerFrame();
  const Platform::ListenResult listen = Platform::OpenListeningSocket(0);
  if (listen.socket == Platform::kInvalidSocket) {
    std::fprintf(stderr, "cannot listen\n");
    return 1;
  }
  const std::uint16_t port = Platform::LocalPort(listen.socket);
  std::thread server(Serve, listen.socket, std::cref(frame), 4 * rounds);

  // Two phases, each alternating a client round with its raw counterpart:
  // new memory against new memory, then kept memory against a warm buffer.
  // (Mixed in one loop, the kept answer's memory would change what the
  // allocator hands the new answers.)
  std::vector<double> freshMs, clientMs, warmMs, keptMs;
  bool failed = false;
  vantorel::Client client;
  for (int i = 0; i < rounds && !failed; ++i) {
    const double fresh = RawRoundMs(port, nullptr, frame.size());
    const double received = ClientRoundMs(client, port, 11, nullptr);
    failed = fresh < 0 || received < 0;
    freshMs.push_back(fresh);
    clientMs.push_back(received);
  }
  {
    std::vector<std::uint8_t> warm(frame.size(), 1);  // touched: no page faults while timed
    vantorel::MeasurementAnswer kept;
    for (int i = 0; i < rounds && !failed; ++i) {
      const double hot = RawRoundMs(port, &warm, frame.size());
      const double reused = ClientRoundMs(client, port, 11, &kept);
      failed = hot < 0 || reused < 0;
      warmMs.push_back(hot);
      keptMs.push_back(reused);
    }
  }
  if (failed) {
    // The server may still wait for a connection that never comes.
    server.detach();
    std::fprintf(stderr, "a round failed\n");
    return 1;
  }
  server.join();
  Platform::CloseSocket(listen.socket);
  const double megabytes = static_cast<double>(frame.size()) / 1e6;
  auto rate = [&](double ms) { return megabytes / (ms / 1000.0); };
  const double freshMedian = bench::Median(freshMs), warmMedian = bench::Median(warmMs),
               clientMedian = bench::Median(clientMs), keptMedian = bench::Median(keptMs);
  std::printf("answer frame:                  %.1f MB, median of %d rounds, %s\n", megabytes,
              rounds, bench::Placement(pin).c_str());
  std::printf("raw loopback, warm buffer:     %7.1f ms %7.0f MB/s\n", warmMedian, rate(warmMedian));
  std::printf("Client, kept answer:           %7.1f ms %7.0f MB/s\n", keptMedian, rate(keptMedian));
  std::printf("raw loopback, fresh memory:    %7.1f ms %7.0f MB/s\n", freshMedian,
              rate(freshMedian));
  std::printf("Client, new answer:            %7.1f ms %7.0f MB/s\n", clientMedian,
              rate(clientMedian));
  std::printf("ratio kept answer / raw warm:  %.2f (goal >= 0.90)\n", warmMedian / keptMedian);
  std::printf("ratio new answer / raw fresh:  %.2f (goal >= 0.90)\n", freshMedian / clientMedian);
  std::printf("ratio new answer / raw warm:   %.2f\n", warmMedian / clientMedian);
  return 0;
}
