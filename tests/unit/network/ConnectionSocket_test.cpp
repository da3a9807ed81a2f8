// Connection and AcceptConnection over real loopback sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"
#include "network/AcceptConnection.h"
#include "platform/Socket.h"
#include "platform/Time.h"
#include "unit/network/NetworkTestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// An accepted Connection and the client socket talking to it.
struct Loopback {
  std::unique_ptr<Network::Connection> server;
  Platform::SocketHandle client = Platform::kInvalidSocket;

  Loopback() {
    const std::uint16_t port = nettest::FreePort();
    Network::Connection* accepted = nullptr;
    std::thread acceptor([&] { accepted = Network::AcceptConnection(port); });
    client = nettest::ConnectLoopback(port);
    acceptor.join();
    server.reset(accepted);
  }
  ~Loopback() { CloseClient(); }
  void CloseClient() {
    Platform::CloseSocket(client);
    client = Platform::kInvalidSocket;
  }
};

TEST(ConnectionSocket, ServesFramesBothWaysAndEndsQuietlyWhenTheClientLeaves) {
  nettest::RecordedErrors errors;
  Loopback link;
  ASSERT_TRUE(link.server);
  std::vector<std::int32_t> got;
  link.server->SetHandler<std::int32_t>(3, [&](std::int32_t& v) {
    got.push_back(v);
    const std::int32_t answer = v * 2;
    link.server->SendMsg(3, &answer);
    nettest::SpendATick();  // past the deadline of time-out 0
  });
  const Bytes frame = Protocol::BuildFrame(3, {21, 0, 0, 0});
  ASSERT_TRUE(nettest::SendAll(link.client, frame.data(), frame.size()));

  EXPECT_TRUE(link.server->ReceiveWithHandlers(0));
  ASSERT_EQ(got.size(), 1u);
  std::uint8_t reply[20] = {};
  std::size_t have = 0;
  while (have < sizeof reply) {
    const Platform::IoResult io = Platform::ReceiveSome(link.client, reply + have, 20 - have);
    ASSERT_EQ(io.status, Platform::IoStatus::Transferred);
    have += io.count;
  }
  EXPECT_EQ(reply[0], 4);
  EXPECT_EQ(reply[8], 3);
  EXPECT_EQ(reply[16], 42);

  link.CloseClient();
  EXPECT_FALSE(link.server->ReceiveWithHandlers(-1));
  EXPECT_EQ(link.server->LastDropReason(), Network::DropReason::PeerClosed);
  std::uint8_t byte = 0;
  EXPECT_EQ(link.server->Receive(&byte, 1, 0), 0u);  // orderly close: short, unreported
  EXPECT_EQ(errors.Count(), 0);
}

TEST(ConnectionSocket, StateSendAndReceiveBasics) {
  nettest::RecordedErrors errors;
  Loopback link;
  ASSERT_TRUE(link.server);
  Network::Connection& server = *link.server;
  EXPECT_FALSE(server.State(static_cast<Network::StateQuery>(3), 0));
  EXPECT_TRUE(server.State(Network::StateQuery::Write, 0));
  EXPECT_FALSE(server.State(Network::StateQuery::Read, 0));
  EXPECT_TRUE(server.Send(nullptr, 0, 0));
  EXPECT_EQ(server.Receive(nullptr, 0, 0), 0u);

  const std::uint8_t hello[3] = {'h', 'i', '!'};
  ASSERT_TRUE(nettest::SendAll(link.client, hello, 3));
  EXPECT_TRUE(server.State(Network::StateQuery::Read, 1000));
  std::uint8_t in[3] = {};
  EXPECT_EQ(server.Receive(in, 3, 1000), 3u);
  EXPECT_EQ(std::memcmp(in, hello, 3), 0);
  EXPECT_EQ(errors.Count(), 0);
}

TEST(ConnectionSocket, AcceptedSocketsCarryKeepAlive) {
  Loopback link;
  ASSERT_TRUE(link.server);
  Platform::KeepAliveSettings settings;
  ASSERT_TRUE(Platform::GetKeepAlive(link.server->Socket(), settings));
  EXPECT_TRUE(settings.enabled);
#if defined(_WIN32)
  // Windows reports the timings only from version 10 1703 on (and Wine).
  if (settings.idleMs == 0) GTEST_SKIP() << "this system does not report keepalive timings";
#endif
  EXPECT_EQ(settings.idleMs, 10000u);
  EXPECT_EQ(settings.intervalMs, 2000u);
  EXPECT_EQ(settings.probeCount, 5u);
}

TEST(ConnectionSocket, SendToAVanishedPeerFailsWithCode6) {
  nettest::RecordedErrors errors;
  Loopback link;
  ASSERT_TRUE(link.server);
  link.CloseClient();
  const std::vector<std::uint8_t> block(65536, 0x55);
  bool sent = true;
  for (int i = 0; i < 200 && sent; ++i) {
    sent = link.server->Send(block.data(), block.size(), 0);
    Platform::SleepMs(1);
  }
  EXPECT_FALSE(sent);  // and the process is still here: no SIGPIPE
  ASSERT_GE(errors.Count(), 1);
  EXPECT_EQ(errors.At(0).code, 6);
  EXPECT_EQ(errors.At(0).source, static_cast<void*>(link.server.get()));
  EXPECT_NE(link.server->LastSocketError(), 0);
  EXPECT_FALSE(link.server->LastSocketErrorText().empty());
}

TEST(ConnectionSocket, StalledFrameIsDroppedAndASteadyOneServed) {
  Loopback link;
  ASSERT_TRUE(link.server);
  link.server->SetFrameStallLimit(100);
  int handled = 0;
  link.server->SetHandler<std::int32_t>(2, [&](std::int32_t&) { ++handled; });

  // One byte every 20 ms is slow but steady.
  const Bytes frame = Protocol::BuildFrame(2, {1, 0, 0, 0});
  std::thread dribble([&] {
    for (std::uint8_t byte : frame) {
      nettest::SendAll(link.client, &byte, 1);
      Platform::SleepMs(20);
    }
  });
  EXPECT_TRUE(link.server->ReceiveWithHandlers(0));
  dribble.join();
  EXPECT_EQ(handled, 1);

  // Half a header, then silence.
  ASSERT_TRUE(nettest::SendAll(link.client, frame.data(), 8));
  const std::uint64_t start = Platform::TickCountMs();
  EXPECT_FALSE(link.server->ReceiveWithHandlers(-1));
  const std::uint64_t spent = Platform::TickCountMs() - start;
  EXPECT_EQ(link.server->LastDropReason(), Network::DropReason::Stalled);
  EXPECT_GE(spent, 80u);
  EXPECT_LT(spent, 5000u);
}

struct Blob {
  std::vector<std::uint8_t> bytes;
};
void ProcessBlob(ByteBuffer& buffer, Blob& blob) { Process(buffer, blob.bytes); }

// Reads `total` bytes from `socket` in blocks of `block`, pausing `pauseMs`
// before each; stops early after `stopAfter` bytes (0: never), or when no
// byte comes for 10 s. Returns the bytes read.
std::size_t ReadPaced(Platform::SocketHandle socket, std::size_t total, std::size_t block,
                      std::uint32_t pauseMs, std::size_t stopAfter) {
  std::vector<std::uint8_t> buffer(block);
  std::size_t got = 0;
  while (got < total && (stopAfter == 0 || got < stopAfter)) {
    Platform::SleepMs(pauseMs);
    std::size_t chunk = 0;
    while (chunk < block && got < total) {
      if (Platform::WaitReady(socket, Platform::Readiness::Read, 10000).status !=
          Platform::WaitStatus::Ready) {
        return got;
      }
      const Platform::IoResult io =
          Platform::ReceiveSome(socket, buffer.data(), std::min(block - chunk, total - got));
      if (io.status != Platform::IoStatus::Transferred) return got;
      chunk += io.count;
      got += io.count;
    }
  }
  return got;
}

TEST(ConnectionSocket, AnAnswerWaitsForAReaderThatKeepsReadingAndDropsOneThatStops) {
  // 24 MiB: well beyond what the send and receive buffers of both ends can
  // grow to (about 10 MiB on Linux), so the answer can only go out as fast
  // as the reader takes it.
  constexpr std::size_t kAnswerBytes = 24u << 20;
  constexpr std::uint32_t kLimitMs = 600;
  const struct {
    const char* reader;
    std::uint32_t pauseMs;  // before each 2 MiB; well below the limit
    std::size_t stopAfter;  // the reader stops taking bytes here (0: never)
    Network::DropReason drop;
  } cases[] = {
      {"steady slow reader", 100, 0, Network::DropReason::PeerClosed},
      {"reader that stops", 0, 1u << 20, Network::DropReason::SendStalled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reader);
    nettest::RecordedErrors errors;
    Loopback link;
    ASSERT_TRUE(link.server);
    link.server->SetSendStallLimit(kLimitMs);
    link.server->SetSerializer<Blob>(3, &ProcessBlob);
    bool sent = false;
    std::uint64_t sendMs = 0;
    link.server->SetHandler<std::int32_t>(3, [&](std::int32_t&) {
      Blob answer{std::vector<std::uint8_t>(kAnswerBytes, 0x5A)};
      const std::uint64_t start = Platform::TickCountMs();
      sent = link.server->SendMsg(3, &answer);
      sendMs = Platform::TickCountMs() - start;
    });
    const Bytes request = Protocol::BuildFrame(3, {1, 0, 0, 0});
    ASSERT_TRUE(nettest::SendAll(link.client, request.data(), request.size()));

    const std::size_t frameBytes = 16 + 4 + kAnswerBytes;
    std::size_t read = 0;
    std::atomic<bool> served{false};
    std::thread reader([&] {
      read = ReadPaced(link.client, frameBytes, 2u << 20, c.pauseMs, c.stopAfter);
      // A reader that stopped keeps its connection open until the server is
      // done with it (and closes it at the latest after 10 s, so that a
      // server that waits for the next request cannot hang the test).
      for (int i = 0; i < 1000 && c.stopAfter != 0 && !served; ++i) Platform::SleepMs(10);
      link.CloseClient();
    });
    EXPECT_FALSE(link.server->ReceiveWithHandlers(-1));
    served = true;
    EXPECT_EQ(link.server->LastDropReason(), c.drop)
        << Network::DropReasonText(link.server->LastDropReason()) << " after " << sendMs << " ms";
    reader.join();
    if (c.stopAfter == 0) {
      EXPECT_TRUE(sent);
      EXPECT_EQ(read, frameBytes);
    } else {
      EXPECT_FALSE(sent);
      EXPECT_GE(sendMs, kLimitMs);
      EXPECT_LT(sendMs, kLimitMs + 4000u);
      EXPECT_LT(read, frameBytes);
    }
    EXPECT_EQ(errors.Count(), 0);
  }
}

TEST(AcceptConnection, OneClientPerCallAndNothingListensBetweenCalls) {
  nettest::RecordedErrors errors;
  const std::uint16_t port = nettest::FreePort();
  for (int round = 0; round < 2; ++round) {
    Network::Connection* accepted = nullptr;
    std::thread acceptor([&] { accepted = Network::AcceptConnection(port); });
    const Platform::SocketHandle client = nettest::ConnectLoopback(port);
    acceptor.join();
    EXPECT_NE(client, Platform::kInvalidSocket);
    EXPECT_NE(accepted, nullptr);
    delete accepted;
    Platform::CloseSocket(client);

    const Platform::ConnectResult refused = Platform::ConnectTo("127.0.0.1", port, 2000);
    EXPECT_EQ(refused.socket, Platform::kInvalidSocket);
    EXPECT_EQ(refused.failedStep, Platform::ConnectStep::Connect);
    Platform::CloseSocket(refused.socket);
  }
  EXPECT_EQ(errors.Count(), 0);
}

TEST(AcceptConnection, PortHeldByAnotherSocketGivesNullSilently) {
  nettest::RecordedErrors errors;
  const Platform::ListenResult holder = Platform::OpenListeningSocket(0);
  ASSERT_NE(holder.socket, Platform::kInvalidSocket);
  Network::AcceptFailure failure;
  EXPECT_EQ(Network::AcceptConnection(Platform::LocalPort(holder.socket), &failure), nullptr);
  EXPECT_EQ(failure.step, Network::AcceptStep::Bind);
  EXPECT_NE(failure.error, 0);
  EXPECT_EQ(errors.Count(), 0);
  Platform::CloseSocket(holder.socket);
}

}  // namespace
