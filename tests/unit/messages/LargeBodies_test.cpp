// Large bodies without extra copies: a gathering writer must produce exactly
// the bytes a copying one does while pointing at the large runs in place, and
// a streaming reader must decode exactly what a reader over the whole body
// does, failing like it on a short body or a failing source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "WireBytes.h"
#include "messages/ByteBuffer.h"
#include "messages/Messages.h"

namespace {

// Hands out a body in the pieces a reader asks for; fails once a read would
// go past `failAt`.
class PieceSource final : public ByteSource {
 public:
  explicit PieceSource(const Bytes& body,
                       std::size_t failAt = std::numeric_limits<std::size_t>::max())
      : body_(body), failAt_(std::min(failAt, body.size())) {}
  bool Read(void* into, std::size_t count) override {
    if (count > failAt_ - offset_) return false;
    std::memcpy(into, body_.data() + offset_, count);
    offset_ += count;
    return true;
  }
  std::size_t Offset() const { return offset_; }

 private:
  const Bytes& body_;
  std::size_t failAt_;
  std::size_t offset_ = 0;
};

Bytes Pattern(std::size_t size, int seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
  return bytes;
}

VantorelMeasurementsFull Result() {
  VantorelMeasurementsFull data;
  for (int a = 0; a < 4; ++a) {
    const auto angle = static_cast<SpectrumAngle>(a * 3);
    data.measurements[angle].index = a;
    data.measurements[angle].angle = angle;
    data.measurements[angle].spectrum[a] = 0.25f * a;
  }
  data.images[R15As_45].exr = Pattern(ByteBuffer::kReferencedRunBytes, 1);  // referenced
  data.images[R15As_45].secondImage = Pattern(ByteBuffer::kReferencedRunBytes - 1, 2);
  data.images[R15As45].exr = Pattern(3, 3);
  data.images[R45As110].exr = Pattern(70000, 4);
  data.images[R45As110].texture.values[2] = 1.5;
  data.images[R45As15];  // both vectors empty
  return data;
}

// Writes `value` both ways and reads it back through a source; the bytes of
// every way must agree. Returns the gathered blocks.
template <typename T>
std::vector<ByteBlock> ExpectSameBytesEveryWay(void (*serialize)(ByteBuffer&, T&), T& value) {
  const Bytes copied = Write(serialize, value);
  ByteBuffer gathering(16, ByteBuffer::Gathering{});
  serialize(gathering, value);
  std::vector<ByteBlock> blocks;
  Bytes joined;
  gathering.ForEachBlock([&](const std::uint8_t* data, std::size_t size) {
    blocks.push_back({data, size});
    joined.insert(joined.end(), data, data + size);
  });
  EXPECT_EQ(joined, copied);
  EXPECT_EQ(gathering.Size(), copied.size());
  EXPECT_LE(blocks.size(), gathering.BlockCount());

  PieceSource source(copied);
  ByteBuffer streamed(source, copied.size());
  T back{};
  serialize(streamed, back);
  EXPECT_EQ(Write(serialize, back), copied);
  EXPECT_EQ(source.Offset(), copied.size());
  return blocks;
}

TEST(LargeBodiesTest, EveryAnswerIsTheSameBytesGatheredAndStreamed) {
  MsgAnswerGetSample sample{};
  sample.data = Result();
  const std::vector<ByteBlock> blocks =
      ExpectSameBytesEveryWay(SerializeMsgAnswerGetSample, sample);
  // The large runs are the vectors themselves; the small ones are copied.
  auto refersTo = [&](const Bytes& bytes) {
    return std::any_of(blocks.begin(), blocks.end(),
                       [&](const ByteBlock& b) { return b.data == bytes.data(); });
  };
  EXPECT_TRUE(refersTo(sample.data.images[R15As_45].exr));
  EXPECT_TRUE(refersTo(sample.data.images[R45As110].exr));
  EXPECT_FALSE(refersTo(sample.data.images[R15As_45].secondImage));

  MsgAnswerGetMeasure measure{};
  measure.result = 7;
  measure.data = Result();
  ExpectSameBytesEveryWay(SerializeMsgAnswerGetMeasure, measure);
  MsgAnswerGetMeasure empty{};
  ExpectSameBytesEveryWay(SerializeMsgAnswerGetMeasure, empty);

  MsgAnswerJobInfo jobs{};
  for (std::size_t length : {std::size_t{0}, std::size_t{5}, ByteBuffer::kReferencedRunBytes + 9}) {
    JobAdvancedInfo job;
    job.name = std::string(length, 'j');
    job.sampleCount = static_cast<std::int32_t>(length);
    jobs.jobs.push_back(job);
  }
  ExpectSameBytesEveryWay(SerializeMsgAnswerJobInfo, jobs);

  for (std::size_t length : {std::size_t{1}, std::size_t{100000}}) {
    MsgAnswerGetLog log{};
    log.log = std::string(length, 'l');
    ExpectSameBytesEveryWay(SerializeMsgAnswerGetLog, log);
  }
  MsgUserMessage message{std::u32string(3000, U'\u00e9')};
  ExpectSameBytesEveryWay(SerializeMsgUserMessage, message);
}

TEST(LargeBodiesTest, StreamingStopsLikeAShortBody) {
  MsgAnswerGetSample sample{};
  sample.data = Result();
  const Bytes body = Write(SerializeMsgAnswerGetSample, sample);
  // A source that fails anywhere, and a body announced one byte short.
  for (std::size_t failAt : {std::size_t{0}, std::size_t{3}, std::size_t{300}, body.size() - 1}) {
    SCOPED_TRACE(failAt);
    PieceSource source(body, failAt);
    ByteBuffer streamed(source, body.size());
    MsgAnswerGetSample back{};
    EXPECT_THROW(SerializeMsgAnswerGetSample(streamed, back), ByteBufferException);
  }
  PieceSource source(body);
  ByteBuffer shorter(source, body.size() - 1);
  MsgAnswerGetSample back{};
  EXPECT_THROW(SerializeMsgAnswerGetSample(shorter, back), ByteBufferException);
  EXPECT_LE(source.Offset(), body.size() - 1);
}

TEST(LargeBodiesTest, StreamedVectorsTakeTheSmallestPooledVectorThatHoldsThem) {
  const Bytes body = Write(ProcessFn{}, Pattern(5000, 9));
  std::vector<Bytes> pool;
  pool.emplace_back(4999, 0);  // too small
  pool.emplace_back(9000, 0);
  pool.emplace_back(6000, 0);  // the best fit
  const std::uint8_t* bestFit = pool[2].data();
  PieceSource source(body);
  ByteBuffer streamed(source, body.size());
  streamed.SetVectorPool(&pool);
  Bytes value;
  Process(streamed, value);
  EXPECT_EQ(value, Pattern(5000, 9));
  EXPECT_EQ(value.data(), bestFit);
  ASSERT_EQ(pool.size(), 2u);

  // None fits: the vector gets room to spare for the next time.
  const Bytes larger = Write(ProcessFn{}, Pattern(16000, 5));
  PieceSource largerSource(larger);
  ByteBuffer again(largerSource, larger.size());
  again.SetVectorPool(&pool);
  Bytes big;
  Process(again, big);
  EXPECT_EQ(big, Pattern(16000, 5));
  EXPECT_GE(big.capacity(), 16000u + 16000u / 8);
  EXPECT_EQ(pool.size(), 2u);
}

}  // namespace
