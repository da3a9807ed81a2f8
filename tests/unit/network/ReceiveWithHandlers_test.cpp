// Framing and dispatch of incoming frames, driven through FakeConnection:
// untrusted headers and bodies, short and stalled frames, buffers, time-outs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/FakeConnection.h"
#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"
#include "platform/Time.h"
#include "unit/network/NetworkTestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Network::DropReason;

struct RawPair {
  std::int32_t a;
  std::int32_t b;
};

struct Named {
  std::string name;
  std::vector<std::uint32_t> values;
};

void ProcessNamed(ByteBuffer& buffer, Named& message) {
  buffer.Process(message.name);
  Process(buffer, message.values);
}

Bytes RawBody(std::int32_t a, std::int32_t b) {
  Bytes body(sizeof(RawPair));
  const RawPair pair{a, b};
  std::memcpy(body.data(), &pair, sizeof pair);
  return body;
}

Bytes NamedBody(std::string name, std::vector<std::uint32_t> values) {
  Named message{std::move(name), std::move(values)};
  ByteBuffer buffer(64, true);
  ProcessNamed(buffer, message);
  return buffer.Release();
}

class ReceiveWithHandlers : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.SetDeserializer<Named>(5, &ProcessNamed);
    fake.SetHandler<RawPair>(1, [this](RawPair& pair) { pairs.push_back(pair); });
    fake.SetHandler<Named>(5, [this](Named& message) { names.push_back(message.name); });
  }

  nettest::RecordedErrors errors;
  FakeConnection fake;
  std::vector<RawPair> pairs;
  std::vector<std::string> names;
};

TEST_F(ReceiveWithHandlers, DispatchesRawAndSerializedBodiesThroughShortReads) {
  fake.SetMaxChunk(3);
  fake.AddBytes(Protocol::BuildFrame(1, RawBody(7, -9)));
  fake.AddBytes(Protocol::BuildFrame(5, NamedBody("Ä-job", {1, 2, 3})));
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));  // ends when the peer closes
  EXPECT_EQ(fake.LastDropReason(), DropReason::PeerClosed);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].a, 7);
  EXPECT_EQ(pairs[0].b, -9);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "Ä-job");
  EXPECT_EQ(errors.Count(), 0);
}

TEST_F(ReceiveWithHandlers, IgnoresReservedBytesAndTheHighHalfOfTheType) {
  fake.AddBytes(Protocol::BuildFrame(0xABCD000000000001ull, RawBody(1, 2), 0xDEADBEEF));
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(pairs.size(), 1u);
}

TEST_F(ReceiveWithHandlers, DropsBadFramesWithoutCallingHandlers) {
  struct Case {
    const char* what;
    Bytes bytes;
    DropReason reason;
    std::size_t leftUnread;
  };
  const Case cases[] = {
      {"unknown type, body stays unread", Protocol::BuildFrame(13, Bytes(6, 0)),
       DropReason::UnknownType, 6},
      {"empty body", Protocol::BuildHeader(0, 1), DropReason::EmptyBody, 0},
      {"truncated header", Bytes(5, 0), DropReason::PeerClosedMidFrame, 0},
      {"peer gone mid-body", Protocol::BuildHeader(8, 1), DropReason::PeerClosedMidFrame, 0},
      {"raw body shorter than its structure", Protocol::BuildFrame(1, Bytes(7, 0)),
       DropReason::BodyTooShort, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeConnection one;
    int calls = 0;
    one.SetHandler<RawPair>(1, [&](RawPair&) { ++calls; });
    one.AddBytes(c.bytes);
    EXPECT_FALSE(one.ReceiveWithHandlers(-1));
    EXPECT_EQ(one.LastDropReason(), c.reason);
    EXPECT_EQ(one.BytesPending(), c.leftUnread);
    EXPECT_EQ(calls, 0);
  }
  EXPECT_EQ(errors.Count(), 0);
}

TEST_F(ReceiveWithHandlers, ReceiveErrorEndsTheLoopAfterItsReport) {
  fake.AddBytes(Protocol::BuildHeader(8, 1));
  fake.AddFailure(104);
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(fake.LastDropReason(), DropReason::ReceiveError);
  EXPECT_EQ(fake.LastSocketError(), 104);
  ASSERT_EQ(errors.Count(), 1);
  EXPECT_EQ(errors.At(0).source, static_cast<void*>(&fake));
  EXPECT_EQ(errors.At(0).code, 7);
  EXPECT_STREQ(errors.At(0).text, "Connection::Receive recv return error");
}

TEST_F(ReceiveWithHandlers, LongerRawBodyIsAcceptedAndNonRawTypeWithoutReaderRefused) {
  Bytes longer = RawBody(3, 4);
  longer.push_back(0xFF);
  fake.AddBytes(Protocol::BuildFrame(1, longer));
  FakeConnection noReader;
  bool called = false;
  noReader.SetHandler<Named>(5, [&](Named&) { called = true; });
  noReader.AddBytes(Protocol::BuildFrame(5, NamedBody("x", {})));

  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(pairs.size(), 1u);
  EXPECT_FALSE(noReader.ReceiveWithHandlers(-1));
  EXPECT_EQ(noReader.LastDropReason(), DropReason::NoDeserializer);
  EXPECT_FALSE(called);
}

// Counts live instances, so that leaks and double destruction both show.
struct Tracked {
  static inline int live = 0;
  std::string name;
  Tracked() { ++live; }
  Tracked(const Tracked& other) : name(other.name) { ++live; }
  ~Tracked() { --live; }
};
void ProcessTracked(ByteBuffer& buffer, Tracked& message) { buffer.Process(message.name); }

TEST_F(ReceiveWithHandlers, ShortSerializedBodyThrowsOutAfterReleasingEverything) {
  nettest::CountingHooks hooks;
  {
    FakeConnection one;
    one.SetDeserializer<Tracked>(4, &ProcessTracked);
    one.SetHandler<Tracked>(4, [](Tracked&) { FAIL() << "handler must not run"; });
    one.SetDeserializer<Named>(5, &ProcessNamed);
    one.SetHandler<Named>(5, [](Named&) { FAIL() << "handler must not run"; });
    // A string announcing 100 bytes with 2 present.
    one.AddBytes(Protocol::BuildFrame(4, Bytes{100, 0, 0, 0, 'a', 'b'}));
    EXPECT_THROW(one.ReceiveWithHandlers(-1), ByteBufferException);
    EXPECT_EQ(one.LastDropReason(), DropReason::ExceptionThrown);
    EXPECT_EQ(Tracked::live, 0);
    // A vector announcing 0x7FFFFFFF elements in a 13-byte body.
    one.AddBytes(
        Protocol::BuildFrame(5, Bytes{1, 0, 0, 0, 'n', 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4}));
    EXPECT_THROW(one.ReceiveWithHandlers(-1), ByteBufferException);
  }
  EXPECT_EQ(hooks.Allocations(), hooks.Releases());
}

TEST_F(ReceiveWithHandlers, HandlerExceptionsLeaveTheLoop) {
  nettest::CountingHooks hooks;
  {
    FakeConnection one;
    one.SetHandler<RawPair>(1, [](RawPair&) { throw 42; });
    one.AddBytes(Protocol::BuildFrame(1, RawBody(1, 1)));
    EXPECT_THROW(one.ReceiveWithHandlers(-1), int);
    EXPECT_EQ(one.LastDropReason(), DropReason::ExceptionThrown);
  }
  EXPECT_EQ(hooks.Allocations(), hooks.Releases());
}

TEST_F(ReceiveWithHandlers, BodiesAbove32MiBGetABufferOfTheirOwn) {
  const Bytes atLimit(33554432, 0x11);  // before the hooks count sizes
  const Bytes aboveLimit(33554433, 0x22);
  nettest::CountingHooks hooks;
  std::size_t seen = 0;
  fake.SetHandler<RawPair>(1, [&](RawPair&) { ++seen; });

  fake.AddBytes(Protocol::BuildFrame(1, atLimit));
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(seen, 1u);
  EXPECT_TRUE(hooks.SawSize(33554432));  // the shared buffer
  EXPECT_FALSE(hooks.SawSize(33554433));

  fake.AddBytes(Protocol::BuildFrame(1, aboveLimit));
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(seen, 2u);
  EXPECT_TRUE(hooks.SawSize(33554433));
}

TEST_F(ReceiveWithHandlers, ReceiveBufferFailuresAreReportedWithCode8) {
  nettest::CountingHooks hooks;
  hooks.FailSize(33554433);
  fake.AddBytes(Protocol::BuildHeader(33554433, 9 + (7ull << 32)));
  fake.SetHandler<RawPair>(9, [](RawPair&) {});
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(fake.LastDropReason(), DropReason::OutOfMemory);
  ASSERT_EQ(errors.Count(), 2);
  EXPECT_EQ(errors.At(0).code, 3);
  EXPECT_EQ(errors.At(1).code, 8);
  EXPECT_EQ(errors.At(1).source, static_cast<void*>(&fake));
  EXPECT_STREQ(errors.At(1).text,
               "Can't accept message with type '9'. Memory allocation failed. Message will be "
               "skipped");

  errors.Clear();
  hooks.FailSize(33554432);
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  ASSERT_EQ(errors.Count(), 2);
  EXPECT_EQ(errors.At(1).code, 8);
  EXPECT_STREQ(errors.At(1).text,
               "ReceiveWithHandlers can't run - memory allocation failed for default receive "
               "buffer (size 33554432)!");
}

TEST_F(ReceiveWithHandlers, TimeOutZeroReturnsAfterTheFirstSlowMessageMinusOneNever) {
  fake.SetHandler<RawPair>(1, [this](RawPair& pair) {
    pairs.push_back(pair);
    nettest::SpendATick();
  });
  for (int i = 0; i < 3; ++i) fake.AddBytes(Protocol::BuildFrame(1, RawBody(i, i)));
  EXPECT_TRUE(fake.ReceiveWithHandlers(0));
  EXPECT_EQ(pairs.size(), 1u);
  EXPECT_EQ(fake.LastDropReason(), DropReason::None);
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(pairs.size(), 3u);
}

TEST_F(ReceiveWithHandlers, FrameThatStopsArrivingIsDroppedAfterTheStallLimit) {
  fake.SetFrameStallLimit(50);
  fake.SetHangAtEnd(true);
  const Bytes frame = Protocol::BuildFrame(1, RawBody(1, 2));
  fake.AddBytes(Bytes(frame.begin(), frame.begin() + 8));
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(fake.LastDropReason(), DropReason::Stalled);
  EXPECT_EQ(fake.TimeOuts(), 1);
  EXPECT_EQ(errors.Count(), 0);

  FakeConnection body;  // the same inside the body
  body.SetFrameStallLimit(50);
  body.SetHandler<RawPair>(1, [](RawPair&) {});
  body.AddBytes(Bytes(frame.begin(), frame.begin() + 20));
  body.AddBytes(Bytes(frame.begin() + 20, frame.end()), 51);
  EXPECT_FALSE(body.ReceiveWithHandlers(-1));
  EXPECT_EQ(body.LastDropReason(), DropReason::Stalled);
}

TEST_F(ReceiveWithHandlers, SlowButSteadyFramesAndLongIdleGapsAreServed) {
  fake.SetFrameStallLimit(50);
  const Bytes frame = Protocol::BuildFrame(1, RawBody(5, 6));
  // Long quiet before the first byte, then one byte every 49 ms.
  fake.AddBytes(Bytes{frame[0]}, 3600000);
  for (std::size_t i = 1; i < frame.size(); ++i) fake.AddBytes(Bytes{frame[i]}, 49);
  EXPECT_FALSE(fake.ReceiveWithHandlers(-1));
  EXPECT_EQ(fake.LastDropReason(), DropReason::PeerClosed);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].b, 6);
}

}  // namespace
