// Outgoing frames and the three registries of a Connection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/FakeConnection.h"
#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"
#include "unit/network/NetworkTestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Answer {
  std::string text;
  std::int32_t code = 0;
};
void ProcessAnswer(ByteBuffer& buffer, Answer& answer) {
  buffer.Process(answer.text);
  buffer.Process(answer.code);
}
// The shape ByteBuffer's own free functions have.
ByteBuffer& ProcessAnswerChained(ByteBuffer& buffer, Answer& answer) {
  ProcessAnswer(buffer, answer);
  return buffer;
}

TEST(SendMsg, RawValueLeavesAsOneTwentyByteFrame) {
  FakeConnection fake;
  const std::int32_t result = 99999;
  EXPECT_TRUE(fake.SendMsg(7, &result));
  ASSERT_EQ(fake.SendCalls().size(), 1u);
  const Bytes expected{4, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0x9F, 0x86, 0x01, 0x00};
  EXPECT_EQ(fake.SendCalls()[0], expected);
}

TEST(SendMsg, SerializedMessageLeavesAsOneFrameWithItsBodySize) {
  // A text short enough to be copied, and one long enough to go out from the
  // message's own memory: the frame's bytes are the same either way.
  for (const std::size_t length : {std::size_t{8}, ByteBuffer::kReferencedRunBytes * 3}) {
    FakeConnection fake;
    ASSERT_TRUE(fake.SetSerializer<Answer>(12, &ProcessAnswer));
    Answer answer{std::string(length, 'x'), -3};
    EXPECT_TRUE(fake.SendMsg(12, &answer));
    ASSERT_EQ(fake.SendCalls().size(), 1u);

    ByteBuffer body(32, true);
    ProcessAnswer(body, answer);
    EXPECT_EQ(fake.SendCalls()[0], Protocol::BuildFrame(12, body.Release()));
  }
}

TEST(SendMsg, RefusesWhatItCannotFrameAndReportsFailedSends) {
  nettest::RecordedErrors errors;
  FakeConnection fake;
  fake.SetSerializer<Answer>(2, &ProcessAnswerChained);
  const std::int32_t wrongType = 1;
  const Answer noSerializer{"x", 1};
  EXPECT_FALSE(fake.SendMsg(2, &wrongType));     // serializer is for Answer
  EXPECT_FALSE(fake.SendMsg(3, &noSerializer));  // cannot travel raw
  EXPECT_FALSE(fake.SendMsg<std::int32_t>(1, nullptr));
  EXPECT_TRUE(fake.SendCalls().empty());
  EXPECT_EQ(errors.Count(), 0);

  fake.SetFailSends(true);
  EXPECT_FALSE(fake.SendMsg(1, &wrongType));
  ASSERT_EQ(errors.Count(), 1);
  EXPECT_EQ(errors.At(0).code, 6);
  EXPECT_STREQ(errors.At(0).text, "Connection::Send send return error");
}

TEST(SendMsg, AnAnswerThatFailsOrStallsEndsTheLoopOnceItsHandlerReturns) {
  const struct {
    bool stall;
    Network::DropReason drop;
  } cases[] = {{false, Network::DropReason::SendFailed}, {true, Network::DropReason::SendStalled}};
  for (const auto& c : cases) {
    nettest::RecordedErrors errors;
    FakeConnection fake;
    fake.SetStallSends(c.stall);
    fake.SetFailSends(!c.stall);
    int handled = 0;
    bool lastSend = true;
    fake.SetHandler<std::int32_t>(1, [&](std::int32_t& value) {
      ++handled;
      lastSend = fake.SendMsg(1, &value);
      // Nothing more goes to a peer that did not take the first answer.
      EXPECT_FALSE(fake.SendMsg(1, &value));
    });
    for (int i = 0; i < 2; ++i) fake.AddBytes(Protocol::BuildFrame(1, Bytes{1, 0, 0, 0}));
    EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
    EXPECT_EQ(fake.LastDropReason(), c.drop);
    EXPECT_FALSE(lastSend);
    EXPECT_EQ(handled, 1);  // the second request is not read
    EXPECT_EQ(errors.Count(), c.stall ? 0 : 1);
    EXPECT_FALSE(fake.ReceiveWithHandlers(-1));  // and stays broken
  }
}

// A callable that counts live copies of itself per registration.
struct CountedHandler {
  int* live;
  int* calls;
  CountedHandler(int* live, int* calls) : live(live), calls(calls) { ++*live; }
  CountedHandler(const CountedHandler& other) : live(other.live), calls(other.calls) { ++*live; }
  CountedHandler(CountedHandler&& other) noexcept : live(other.live), calls(other.calls) {
    ++*live;
  }
  ~CountedHandler() { --*live; }
  void operator()(std::int32_t&) const { ++*calls; }
};

TEST(Registry, ReplacingAndDestroyingReleasesEachWrapperOnce) {
  int firstLive = 0, firstCalls = 0, secondLive = 0, secondCalls = 0;
  {
    FakeConnection fake;
    fake.SetHandler<std::int32_t>(1, CountedHandler(&firstLive, &firstCalls));
    EXPECT_EQ(firstLive, 1);
    fake.SetHandler<std::int32_t>(1, CountedHandler(&secondLive, &secondCalls));
    EXPECT_EQ(firstLive, 0);
    EXPECT_EQ(secondLive, 1);
    fake.AddBytes(Protocol::BuildFrame(1, Bytes{1, 0, 0, 0}));
    EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(secondCalls, 1);
  }
  EXPECT_EQ(firstLive, 0);
  EXPECT_EQ(secondLive, 0);
}

struct Counter {
  std::int32_t value = 0;
};
void ProcessCounterPlusOne(ByteBuffer& buffer, Counter& counter) {
  buffer.Process(counter.value);
  if (!buffer.IsWriting()) counter.value += 1000;
}

TEST(Registry, HandlerTakesTheDeserializerPresentAtItsRegistration) {
  FakeConnection fake;
  std::vector<std::int32_t> seen;
  fake.SetHandler<Counter>(4, [&](Counter& c) { seen.push_back(c.value); });
  fake.SetDeserializer<Counter>(4, &ProcessCounterPlusOne);  // too late for id 4
  fake.SetHandler<Counter>(5, [&](Counter& c) { seen.push_back(c.value); });
  fake.SetDeserializer<Counter>(6, &ProcessCounterPlusOne);
  fake.SetHandler<Counter>(6, [&](Counter& c) { seen.push_back(c.value); });
  // A deserializer registered for another type is not taken.
  EXPECT_FALSE(fake.SetHandler<std::int32_t>(6, [](std::int32_t&) {}));

  for (std::uint64_t id : {4, 6}) fake.AddBytes(Protocol::BuildFrame(id, Bytes{7, 0, 0, 0}));
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(seen, (std::vector<std::int32_t>{7, 1007}));
}

}  // namespace
