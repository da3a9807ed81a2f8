// Connection and AcceptConnection over real loopback sockets.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "network/AcceptConnection.h"
#include "platform/Socket.h"
#include "platform/Time.h"
#include "unit/network/NetworkTestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint32_t type, const Bytes& body) {
  Network::MessageHeader header;
  header.size = static_cast<std::uint32_t>(body.size());
  header.type = type;
  Bytes bytes(16 + body.size());
  Network::WriteHeader(header, bytes.data());
  if (!body.empty()) std::memcpy(bytes.data() + 16, body.data(), body.size());
  return bytes;
}

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
    Platform::SleepMs(2);  // past the deadline of time-out 0
  });
  const Bytes frame = Frame(3, {21, 0, 0, 0});
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

#if !defined(_WIN32)
TEST(ConnectionSocket, AcceptedSocketsCarryKeepAlive) {
  Loopback link;
  ASSERT_TRUE(link.server);
  Platform::KeepAliveSettings settings;
  ASSERT_TRUE(Platform::GetKeepAlive(link.server->Socket(), settings));
  EXPECT_TRUE(settings.enabled);
  EXPECT_EQ(settings.idleMs, 10000u);
  EXPECT_EQ(settings.intervalMs, 2000u);
  EXPECT_EQ(settings.probeCount, 5u);
}
#endif

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
  const Bytes frame = Frame(2, {1, 0, 0, 0});
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
