// Large bodies without extra copies: a gathering writer must give the bytes a
// copying one gives while pointing at the large runs in place, and a
// streaming reader must decode what a whole-body reader decodes, failing like
// it on a short body or a failing source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "WireBytes.h"
#include "messages/Messages.h"

namespace {

// Hands out a body in the pieces a reader asks for; fails past `failAt`.
class PieceSource final : public ByteSource {
 public:
  explicit PieceSource(const Bytes& body, std::size_t failAt = std::numeric_limits<int>::max())
      : body_(body), failAt_(std::min(failAt, body.size())) {}
  bool Read(void* into, std::size_t count) override {
    if (count > failAt_ - offset) return false;
    std::memcpy(into, body_.data() + offset, count);
    offset += count;
    return true;
  }
  std::size_t offset = 0;

 private:
  const Bytes& body_;
  std::size_t failAt_;
};

Bytes Pattern(std::size_t size, int seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
  return bytes;
}

MsgAnswerGetSample Sample() {
  MsgAnswerGetSample msg{};
  msg.data.measurements[R45As75].index = 3;
  msg.data.images[R15As_45].exr = Pattern(ByteBuffer::kReferencedRunBytes, 1);  // referenced
  msg.data.images[R15As_45].secondImage = Pattern(ByteBuffer::kReferencedRunBytes - 1, 2);
  msg.data.images[R15As45].exr = Pattern(3, 3);
  msg.data.images[R45As110].exr = Pattern(70000, 4);
  msg.data.images[R45As15];  // both vectors empty
  return msg;
}

// Writes `value` gathered and copied and reads it back streamed; all must
// agree. Returns whether a gathered block is `run` itself (not a copy).
template <typename T>
bool ExpectSameBytesEveryWay(void (*serialize)(ByteBuffer&, T&), T& value, const Bytes* run) {
  const Bytes copied = Write(serialize, value);
  ByteBuffer gathering(16, ByteBuffer::Gathering{});
  serialize(gathering, value);
  Bytes joined;
  bool referenced = false;
  gathering.ForEachBlock([&](const std::uint8_t* data, std::size_t size) {
    referenced = referenced || (run != nullptr && data == run->data());
    joined.insert(joined.end(), data, data + size);
  });
  EXPECT_EQ(joined, copied);
  EXPECT_EQ(gathering.Size(), copied.size());

  PieceSource source(copied);
  ByteBuffer streamed(source, copied.size());
  T back{};
  serialize(streamed, back);
  EXPECT_EQ(Write(serialize, back), copied);
  EXPECT_EQ(source.offset, copied.size());
  return referenced;
}

TEST(LargeBodiesTest, AnswersAreTheSameBytesGatheredAndStreamed) {
  MsgAnswerGetSample sample = Sample();
  EXPECT_TRUE(ExpectSameBytesEveryWay(SerializeMsgAnswerGetSample, sample,
                                      &sample.data.images[R45As110].exr));
  EXPECT_FALSE(ExpectSameBytesEveryWay(SerializeMsgAnswerGetSample, sample,
                                       &sample.data.images[R15As_45].secondImage));
  MsgAnswerGetMeasure measure{7, Sample().data};
  ExpectSameBytesEveryWay(SerializeMsgAnswerGetMeasure, measure, nullptr);
  MsgAnswerJobInfo jobs{};
  jobs.jobs.resize(2);
  jobs.jobs[1].name = std::string(ByteBuffer::kReferencedRunBytes + 9, 'j');
  ExpectSameBytesEveryWay(SerializeMsgAnswerJobInfo, jobs, nullptr);
  MsgAnswerGetLog log{0, std::string(100000, 'l')};
  ExpectSameBytesEveryWay(SerializeMsgAnswerGetLog, log, nullptr);
}

TEST(LargeBodiesTest, StreamingFailsLikeAShortBody) {
  MsgAnswerGetSample sample = Sample();
  const Bytes body = Write(SerializeMsgAnswerGetSample, sample);
  for (const std::size_t failAt : {std::size_t{0}, std::size_t{300}, body.size() - 1}) {
    PieceSource source(body, failAt);
    ByteBuffer streamed(source, body.size());
    MsgAnswerGetSample back{};
    EXPECT_THROW(SerializeMsgAnswerGetSample(streamed, back), ByteBufferException) << failAt;
  }
  PieceSource source(body);
  ByteBuffer shorter(source, body.size() - 1);  // the fields run past the announced end
  MsgAnswerGetSample back{};
  EXPECT_THROW(SerializeMsgAnswerGetSample(shorter, back), ByteBufferException);
  EXPECT_LE(source.offset, body.size() - 1);
}

TEST(LargeBodiesTest, StreamedVectorsTakeTheSmallestPooledVectorThatHoldsThem) {
  std::vector<Bytes> pool;
  pool.emplace_back(4999, 0);  // too small
  pool.emplace_back(9000, 0);
  pool.emplace_back(6000, 0);  // the best fit
  const std::uint8_t* bestFit = pool[2].data();
  for (const std::size_t size : {std::size_t{5000}, std::size_t{16000}}) {
    const Bytes body = Write(ProcessFn{}, Pattern(size, 9));
    PieceSource source(body);
    ByteBuffer streamed(source, body.size());
    streamed.SetVectorPool(&pool);
    Bytes value;
    Process(streamed, value);
    EXPECT_EQ(value, Pattern(size, 9));
    // None fits the second: it gets room to spare for the next time.
    EXPECT_TRUE(size == 5000 ? value.data() == bestFit : value.capacity() >= size + size / 8);
    EXPECT_EQ(pool.size(), 2u);
  }
}

}  // namespace
