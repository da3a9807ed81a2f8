// Byte-exact checks of the driver's answers on the wire, through a raw TCP
// connection: frame sizes, the type ids answers travel under, and the bodies
// whose layout the clients rely on.
#include <gtest/gtest.h>

#include <algorithm>

#include "integration/TestSupport.h"
#include "messages/MessageHeader.h"

namespace integration {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(const std::string& text) {
  return Concat({Le32(static_cast<std::uint32_t>(text.size())), Bytes(text.begin(), text.end())});
}

class ProtocolBytes : public SharedDriver<ProtocolBytes> {
 public:
  static Environment Env() { return FastInstrument(); }

 protected:
  // Opens the device session through the client, then swaps it for a raw
  // connection.
  void SwitchToRaw() {
    ASSERT_TRUE(EnsureSession(client));
    client.Close();
    ASSERT_TRUE(ConnectRaw(raw));
  }
  // Sends one frame and reads exactly the 20 bytes of a bare code answer;
  // nothing may follow them.
  Bytes BareAnswer(std::uint64_t typeId, const Bytes& body) {
    EXPECT_TRUE(raw.Send(Protocol::BuildFrame(typeId, body)));
    Bytes answer = raw.Read(20, Scaled(10000));
    EXPECT_EQ(raw.WaitNext(100), RawClient::Next::Nothing) << "bytes after the answer";
    return answer;
  }
  static Bytes ExpectedCodeFrame(std::uint8_t typeId, std::uint32_t code) {
    Bytes frame = Concat({Le32(4), Le32(0), {typeId, 0, 0, 0, 0, 0, 0, 0}, Le32(code)});
    return frame;
  }
  // The reserved header bytes carry no meaning: compare without them.
  static Bytes WithoutReserved(Bytes frame) {
    if (frame.size() >= 8) std::fill(frame.begin() + 4, frame.begin() + 8, 0);
    return frame;
  }

  RawClient raw;
};

TEST_F(ProtocolBytes, BareCodeAnswersAreTwentyBytesUnderTheRequestId) {
  SwitchToRaw();
  // Cancel with nothing measuring: 0 under id 10.
  EXPECT_EQ(WithoutReserved(BareAnswer(10, {0})), ExpectedCodeFrame(10, 0));
  // The high 32 bits of the type field do not take part in dispatch.
  EXPECT_EQ(WithoutReserved(BareAnswer((std::uint64_t{7} << 32) | 10, {0})),
            ExpectedCodeFrame(10, 0));
  // A delete body of four zero bytes names the empty job: 0 under id 4.
  EXPECT_EQ(WithoutReserved(BareAnswer(4, Le32(0))), ExpectedCodeFrame(4, 0));
  // A network connect (id 7) is answered under id 1.
  EXPECT_EQ(WithoutReserved(BareAnswer(7, Concat({{10, 1, 2, 3}, Le32(Scaled(5000))}))),
            ExpectedCodeFrame(1, 0));
  // A USB connect answers under id 1 as well.
  EXPECT_EQ(WithoutReserved(BareAnswer(1, Concat({Le32(0), Le32(Scaled(5000))}))),
            ExpectedCodeFrame(1, 0));
}

TEST_F(ProtocolBytes, JobListBodyLayout) {
  // Only J1 stored: the job list body is fully determined.
  ASSERT_TRUE(EnsureSession(client));
  const vantorel::JobsAnswer before = client.GetJobs();
  for (const JobAdvancedInfo& job : before.jobs) ASSERT_TRUE(client.DeleteJob(job.name).Ok());
  ASSERT_TRUE(client.AddJob("J1", "Red", 5).Ok());
  SwitchToRaw();
  ASSERT_TRUE(raw.Send(Protocol::BuildFrame(2, {0, 0, 0})));
  const std::optional<WireFrame> answer = raw.ReadFrame(Scaled(10000));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->typeId, 2u);
  const Bytes expected = Concat({Le32(0), Le32(1), Text("J1"), Le32(0), Le32(5), {1}});
  EXPECT_EQ(answer->body, expected);
}

TEST_F(ProtocolBytes, SampleAnswersShareIdSix) {
  ASSERT_TRUE(PrepareMeasuredJob(client, "S6", "Blue", 1));
  SwitchToRaw();

  // A failed sample read: result and two empty maps, 12 bytes.
  ASSERT_TRUE(raw.Send(Protocol::BuildFrame(6, Concat({Text("no such job"), Le32(0)}))));
  const std::optional<WireFrame> failed = raw.ReadFrame(Scaled(10000));
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->typeId, 6u);
  EXPECT_EQ(failed->body, Concat({Le32(1002), Le32(0), Le32(0)}));

  ASSERT_TRUE(raw.Send(Protocol::BuildFrame(6, Concat({Text("S6"), Le32(0)}))));
  const std::optional<WireFrame> sample = raw.ReadFrame(Scaled(10000));
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->typeId, 6u);
  ASSERT_GE(sample->body.size(), 8u + 11 * (4 + 148));
  // Result 0, then eleven measurement records of 148 bytes after their keys.
  EXPECT_EQ(Bytes(sample->body.begin(), sample->body.begin() + 8), Concat({Le32(0), Le32(11)}));
  const std::size_t imageCountAt = 8 + 11 * (4 + 148);
  EXPECT_EQ(Bytes(sample->body.begin() + imageCountAt, sample->body.begin() + imageCountAt + 4),
            Le32(6));
}

TEST_F(ProtocolBytes, LogTextEndsWithOneCountedZeroByte) {
  SwitchToRaw();
  ASSERT_TRUE(raw.Send(Protocol::BuildFrame(12, {0})));
  const std::optional<WireFrame> answer = raw.ReadFrame(Scaled(10000));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->typeId, 12u);
  ASSERT_GE(answer->body.size(), 9u);
  EXPECT_EQ(Bytes(answer->body.begin(), answer->body.begin() + 4), Le32(0));
  const std::uint32_t length = answer->body[4] | (answer->body[5] << 8) | (answer->body[6] << 16) |
                               (static_cast<std::uint32_t>(answer->body[7]) << 24);
  EXPECT_EQ(length, answer->body.size() - 8) << "the length counts the zero byte";
  EXPECT_GT(length, 1u) << "the instrument has logged its start";
  EXPECT_EQ(answer->body.back(), 0);
  EXPECT_EQ(std::count(answer->body.begin() + 8, answer->body.end(), 0), 1)
      << "exactly one zero byte: the terminator";
}

}  // namespace
}  // namespace integration
