// How the driver deals with its clients: one at a time, a new one after the
// previous leaves in any way (orderly, reset, a frame it cannot handle), and
// the device session kept across them all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "integration/TestSupport.h"
#include "messages/MessageHeader.h"

namespace integration {
namespace {

class ClientLifecycle : public SharedDriver<ClientLifecycle> {
 public:
  static Environment Env() { return FastInstrument(); }

 protected:
  // Opens the device session with the test's client, then closes that client.
  void OpenSessionAndLeave() {
    ASSERT_TRUE(client.ConnectUsb(Scaled(5000)).Ok());
    client.Close();
  }
  // A log request answered on `raw`: the driver has accepted that connection
  // (and closed its listening socket, so nothing else is left waiting there).
  static bool Served(RawClient& raw) {
    return raw.Send(Protocol::BuildFrame(12, {0})) && raw.ReadFrame(Scaled(5000)).has_value();
  }
  // A new client finds the session of the previous one.
  void ExpectSessionKept() {
    vantorel::Client next;
    ASSERT_TRUE(ConnectClient(next));
    const vantorel::JobsAnswer jobs = next.GetJobs();
    EXPECT_EQ(jobs.status.failure, vantorel::Failure::None) << jobs.status.text;
    EXPECT_EQ(jobs.status.code, 0) << "device session lost";
  }
};

TEST_F(ClientLifecycle, OrderlyCloseKeepsSessionForNextClient) {
  OpenSessionAndLeave();
  ExpectSessionKept();
  EXPECT_TRUE(driver->Running());
}

TEST_F(ClientLifecycle, ResetClientIsDroppedAndDriverGoesOn) {
  OpenSessionAndLeave();
  {
    RawClient idle;  // reset while the driver waits for a header
    ASSERT_TRUE(ConnectRaw(idle));
    ASSERT_TRUE(Served(idle));
    idle.Reset();
  }
  {
    RawClient halfway;  // reset in the middle of a frame header
    ASSERT_TRUE(ConnectRaw(halfway));
    ASSERT_TRUE(Served(halfway));
    ASSERT_TRUE(halfway.Send({4, 0, 0, 0, 0, 0, 0, 0}));
    halfway.Reset();
  }
  ExpectSessionKept();
  EXPECT_TRUE(driver->Running()) << driver->Describe();
}

TEST_F(ClientLifecycle, UnknownTypeIdClosesConnectionWithoutAnswer) {
  OpenSessionAndLeave();
  RawClient raw;
  ASSERT_TRUE(ConnectRaw(raw));
  ASSERT_TRUE(raw.Send(Protocol::BuildFrame(13, Le32(0))));
  EXPECT_EQ(raw.WaitNext(Scaled(3000)), RawClient::Next::Closed);
  raw.Close();
  ExpectSessionKept();
}

TEST_F(ClientLifecycle, BodyShorterThanItsFieldsDropsClientOnly) {
  OpenSessionAndLeave();
  RawClient raw;
  ASSERT_TRUE(ConnectRaw(raw));
  // A sample request that ends after the job name: the index is missing.
  ASSERT_TRUE(raw.Send(Protocol::BuildFrame(6, {2, 0, 0, 0, 'J', '1'})));
  EXPECT_EQ(raw.WaitNext(Scaled(3000)), RawClient::Next::Closed);
  raw.Close();
  ExpectSessionKept();
  EXPECT_NE(driver->Stderr().find("malformed request body"), std::string::npos)
      << driver->Describe();
}

TEST_F(ClientLifecycle, AnnouncingAbout4GiBUnderEveryRequestIdDropsOnlyThatClient) {
  ASSERT_TRUE(PrepareMeasuredJob(client, "kept", "blue", 1));
  client.Close();
  for (std::uint64_t id = 1; id <= 12; ++id) {
    SCOPED_TRACE(id);
    RawClient raw;
    ASSERT_TRUE(ConnectRaw(raw));
    std::vector<std::uint8_t> header = Protocol::BuildFrame(id, {});
    header[0] = 0xF0;  // body size 0xFFFFFFF0
    header[1] = header[2] = header[3] = 0xFF;
    ASSERT_TRUE(raw.Send(header));
    // A driver that cannot hold such a body drops the client at once; one
    // that can waits for the body, which never comes: the client leaves.
    raw.WaitNext(Scaled(500));
    raw.Close();
  }
  ExpectSessionKept();
  vantorel::Client next;
  ASSERT_TRUE(ConnectClient(next));
  const vantorel::JobsAnswer jobs = next.GetJobs();
  EXPECT_TRUE(FindJob(jobs.jobs, "kept").has_value()) << "stored jobs lost";
  EXPECT_TRUE(driver->Running()) << driver->Describe();
}

TEST_F(ClientLifecycle, NewClientIsServedWithoutWaitingForTheMainLoopPause) {
  // The main loop pauses 16 ms between serving windows. Were a new client to
  // wait for that pause, every one would take longer than 16 ms; one quick
  // answer out of five shows that none has to. Each client is answered
  // before it leaves, so the next one never queues behind it.
  ASSERT_FALSE(client.Cancel().TransportError());
  client.Close();
  std::int64_t fastestUs = INT64_MAX;
  for (int i = 0; i < 5; ++i) {
    RawClient raw;
    ASSERT_TRUE(ConnectRaw(raw));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(raw.Send(Protocol::BuildFrame(10, {0})));
    ASSERT_TRUE(raw.ReadFrame(Scaled(5000)));
    fastestUs =
        std::min<std::int64_t>(fastestUs, std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
  }
  EXPECT_LT(fastestUs, 12000);
}

TEST_F(ClientLifecycle, SecondClientIsRefusedUntilFirstLeaves) {
  ASSERT_TRUE(client.GetLog().status.Ok());  // the first client is being served
  RawClient second;
  EXPECT_EQ(second.Connect(8889, Scaled(1000)), ECONNREFUSED);
  EXPECT_TRUE(client.GetLog().status.Ok()) << "the first client must still be served";
  client.Close();
  vantorel::Client next;
  ASSERT_TRUE(ConnectClient(next));
  EXPECT_TRUE(next.GetLog().status.Ok());
}

}  // namespace
}  // namespace integration
