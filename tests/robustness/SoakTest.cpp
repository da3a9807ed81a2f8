// Soak: many small requests over one connection, then many connect and
// disconnect cycles, against the real driver. Its resident memory and open
// descriptors must stay flat: the first tenth of each run (at most the first
// thousand requests or cycles) is compared with the last.
//
// Sizes (defaults are the short variant the suite runs):
//   VANTOREL_SOAK_REQUESTS      requests over one connection (10000)
//   VANTOREL_SOAK_CYCLES        connect/disconnect cycles (200)
//   VANTOREL_SOAK_RSS_SLACK_KB  allowed growth of the mean RSS (2048; 4096 in
//                               the address-sanitizer build, whose driver
//                               runs without the sanitizer's quarantine)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fakes/RawClient.h"
#include "integration/TestSupport.h"
#include "messages/MessageHeader.h"
#include "messages/Messages.h"
#include "messages/Protocol.h"
#include "robustness/Footprint.h"

#if defined(__SANITIZE_ADDRESS__)
#define VANTOREL_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTOREL_SOAK_ASAN 1
#endif
#endif

namespace robustness {
namespace {

using Bytes = std::vector<std::uint8_t>;
using integration::Scaled;

std::uint32_t EnvNumber(const char* name, std::uint32_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

template <typename Msg>
Bytes Encode(void (*fn)(ByteBuffer&, Msg&), Msg msg) {
  ByteBuffer buffer(64, true);
  fn(buffer, msg);
  return Bytes(buffer.Data(), buffer.Data() + buffer.Size());
}

// The small requests of the soak, each with the id its answer comes under.
struct SmallRequest {
  Bytes frame;
  std::uint64_t answerId;
};

std::vector<SmallRequest> SmallRequests() {
  return {
      {Protocol::BuildFrame(Protocol::kGetJobs, {0, 0, 0}), Protocol::kGetJobs},
      {Protocol::BuildFrame(Protocol::kCancel, {0}), Protocol::kCancel},
      {Protocol::BuildFrame(Protocol::kGetSample,
                            Encode(&SerializeMsgGetSample, MsgGetSample{"absent", 0})),
       Protocol::kGetSample},
      {Protocol::BuildFrame(Protocol::kDoJob, Encode(&SerializeMsgDoJob, MsgDoJob{"absent"})),
       Protocol::kDoJob},
      {Protocol::BuildFrame(Protocol::kDeleteJob,
                            Encode(&SerializeMsgDeleteJob, MsgDeleteJob{"absent"})),
       Protocol::kDeleteJob},
      {Protocol::BuildFrame(Protocol::kUserMessage,
                            Encode(&SerializeMsgUserMessage, MsgUserMessage{U"soak"})),
       Protocol::kUserMessage},
      {Protocol::BuildFrame(Protocol::kGetMeasure,
                            Encode(&SerializeMsgGetMeasure, MsgGetMeasure{"absent"})),
       Protocol::kGetMeasure},
  };
}

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    integration::Environment env = integration::FastInstrument();
#ifdef VANTOREL_SOAK_ASAN
    // The sanitizer keeps freed blocks in a quarantine of up to 256 MiB,
    // which would read as growth; without it the driver's own use shows.
    const char* options = std::getenv("ASAN_OPTIONS");
    env = integration::With(env, "ASAN_OPTIONS",
                            std::string(options != nullptr ? options : "") +
                                ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0");
#endif
    ASSERT_TRUE(driver.StartAndWait(env)) << driver.Failure();
    vantorel::Client client;
    ASSERT_TRUE(integration::ConnectClient(client));
    ASSERT_TRUE(client.ConnectUsb(Scaled(5000)).Ok());
    ASSERT_TRUE(client.AddJob("S1", "Teal", 1).Ok());
  }

  Footprint Sample() {
    const std::optional<Footprint> footprint = ReadFootprint(driver.Pid());
    EXPECT_TRUE(footprint.has_value()) << "driver gone\n" << driver.Describe();
    return footprint.value_or(Footprint{});
  }

  // Compares the first and the last window; prints both.
  void ExpectFlat(const char* what, const std::vector<Footprint>& first,
                  const std::vector<Footprint>& last) {
    const FootprintSummary a = Summarise(first);
    const FootprintSummary b = Summarise(last);
    std::printf("%s: first window %s; last window %s; RSS growth %.0f KiB\n", what,
                Describe(a).c_str(), Describe(b).c_str(), b.meanRssKb - a.meanRssKb);
#ifdef VANTOREL_SOAK_ASAN
    const std::uint32_t slack = EnvNumber("VANTOREL_SOAK_RSS_SLACK_KB", 4096);
#else
    const std::uint32_t slack = EnvNumber("VANTOREL_SOAK_RSS_SLACK_KB", 2048);
#endif
    EXPECT_LT(b.meanRssKb - a.meanRssKb, static_cast<double>(slack)) << what;
    EXPECT_EQ(a.minDescriptors, a.maxDescriptors) << what << ": descriptors vary";
    EXPECT_EQ(b.minDescriptors, b.maxDescriptors) << what << ": descriptors vary";
    EXPECT_EQ(a.maxDescriptors, b.maxDescriptors) << what << ": descriptors grew";
  }

  integration::DriverProcess driver;
};

TEST_F(Soak, SmallRequestsAndReconnectsKeepMemoryAndDescriptorsFlat) {
  const std::uint32_t requests = EnvNumber("VANTOREL_SOAK_REQUESTS", 10000);
  const std::uint32_t cycles = EnvNumber("VANTOREL_SOAK_CYCLES", 200);
  const std::vector<SmallRequest> kinds = SmallRequests();

  // Requests, pipelined in batches over one connection.
  constexpr std::uint32_t kBatch = 50;
  const std::uint32_t window = std::max<std::uint32_t>(kBatch, std::min(1000u, requests / 10));
  std::vector<Footprint> first, last;
  RawClient wire;
  ASSERT_TRUE(wire.ConnectWithin(Protocol::kPort, Scaled(10000)));
  const auto start = std::chrono::steady_clock::now();
  std::uint32_t done = 0;
  while (done < requests) {
    const std::uint32_t count = std::min(kBatch, requests - done);
    Bytes batch;
    for (std::uint32_t i = 0; i < count; ++i) {
      const Bytes& frame = kinds[(done + i) % kinds.size()].frame;
      batch.insert(batch.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(wire.Send(batch)) << "request " << done;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::optional<WireFrame> answer = wire.ReadFrame(Scaled(10000));
      ASSERT_TRUE(answer) << "no answer to request " << done + i << "\n" << driver.Describe();
      ASSERT_EQ(answer->typeId, kinds[(done + i) % kinds.size()].answerId);
    }
    done += count;
    if (done <= window) first.push_back(Sample());
    if (done > requests - window) last.push_back(Sample());
  }
  const std::int64_t requestMs = integration::ElapsedMs(start);
  wire.Close();
  std::printf("%u requests in %lld ms\n", requests, static_cast<long long>(requestMs));
  ExpectFlat("requests", first, last);

  // Connect, one request, orderly close. Sampled while the client is
  // connected and answered, so every sample sees the same set of sockets.
  const std::uint32_t cycleWindow = std::max<std::uint32_t>(10, std::min(1000u, cycles / 10));
  first.clear();
  last.clear();
  const auto cyclesStart = std::chrono::steady_clock::now();
  for (std::uint32_t cycle = 1; cycle <= cycles; ++cycle) {
    ASSERT_TRUE(wire.ConnectWithin(Protocol::kPort, Scaled(10000))) << "cycle " << cycle;
    ASSERT_TRUE(wire.Send(kinds[0].frame));
    const std::optional<WireFrame> answer = wire.ReadFrame(Scaled(10000));
    ASSERT_TRUE(answer && answer->typeId == Protocol::kGetJobs) << "cycle " << cycle;
    if (cycle <= cycleWindow) first.push_back(Sample());
    if (cycle > cycles - cycleWindow) last.push_back(Sample());
    wire.Close();
  }
  std::printf("%u connect/disconnect cycles in %lld ms\n", cycles,
              static_cast<long long>(integration::ElapsedMs(cyclesStart)));
  ExpectFlat("cycles", first, last);
  EXPECT_TRUE(driver.Running()) << driver.Describe();
}

}  // namespace
}  // namespace robustness
