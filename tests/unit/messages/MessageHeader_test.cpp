// The frame header codec against bytes spelled out by hand, so that the
// driver, the client and the test clients, which all frame through it, agree
// with any other implementation of the protocol.
#include "messages/MessageHeader.h"

#include <gtest/gtest.h>

#include "WireBytes.h"

namespace {

using Protocol::MessageHeader;

TEST(MessageHeader, WritesAndReadsTheLittleEndianLayout) {
  const struct {
    MessageHeader header;
    Bytes bytes;
  } cases[] = {
      {{6, 0, 9}, {6, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}},
      {{0x01020304u, 0xDEADBEEFu, 0x1122334455667788ull},
       {0x04, 0x03, 0x02, 0x01, 0xEF, 0xBE, 0xAD, 0xDE, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22,
        0x11}},
      {{0xFFFFFFFFu, 0, 0xFFFFFFFFull},
       {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    Bytes written(Protocol::kHeaderSize);
    Protocol::WriteHeader(c.header, written.data());
    EXPECT_EQ(written, c.bytes);
    EXPECT_EQ(Protocol::BuildHeader(c.header.size, c.header.type, c.header.reserved), c.bytes);
    const MessageHeader read = Protocol::ReadHeader(c.bytes.data());
    EXPECT_EQ(read.size, c.header.size);
    EXPECT_EQ(read.reserved, c.header.reserved);
    EXPECT_EQ(read.type, c.header.type);
  }
  // Receivers dispatch on the low half of the type alone.
  EXPECT_EQ(Protocol::DispatchType({1, 2, 0xABCD000000000005ull}), 5u);
}

TEST(MessageHeader, BuildsHeaderAndBodyAsOneBlock) {
  // A run-job request for the job J1.
  const Bytes body = {0x02, 0x00, 0x00, 0x00, 0x4A, 0x31};
  const Bytes expected = {0x06, 0, 0, 0, 0, 0,    0, 0, 0x09, 0,    0,
                          0,    0, 0, 0, 0, 0x02, 0, 0, 0,    0x4A, 0x31};
  EXPECT_EQ(Protocol::BuildFrame(9, body), expected);
  EXPECT_EQ(Protocol::BuildFrame(12, Bytes{}),
            (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
