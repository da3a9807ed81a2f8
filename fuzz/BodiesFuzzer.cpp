// Fuzz target: every message body reader, fed through ByteBuffer in reading
// mode over an exact-size copy of the body.
//
// Input: the first byte selects the message (mod 10: the six request bodies
// the driver reads, then the four answer bodies a client reads); the rest is
// the body.
//
// Properties: a read either succeeds or throws ByteBufferException naming a
// read and the body's size; a streaming read (the body pulled from a source
// as the client pulls it from a socket) ends the same way, at the same byte,
// with the same message; a gathering write (as the driver sends) gives the
// same bytes as a copying one; what was read writes back as exactly the bytes
// it was read from (bodies of strings and integers only), or, for bodies
// whose decoding normalises (a bool byte, map keys sorted and deduplicated),
// writes back no longer than it was read and reads and writes back to the
// same bytes again.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/FuzzInput.h"
#include "messages/ByteBuffer.h"
#include "messages/Messages.h"

namespace {

template <typename Msg>
std::size_t Decode(const std::uint8_t* bytes, std::size_t size, void (*fn)(ByteBuffer&, Msg&),
                   Msg& msg, bool& ok) {
  ByteBuffer in(bytes, size, false);
  ok = false;
  try {
    fn(in, msg);
  } catch (const ByteBufferException& e) {
    fuzz::Require(!e.writing, "read failure reported as a write");
    fuzz::Require(e.bufferSize == size, "read failure names another body size");
    fuzz::Require(e.length > 0, "read failure for zero bytes");
    return 0;
  }
  ok = true;
  return size - in.Remaining();
}

// The body pulled in the pieces the reader asks for, never past its end.
class PieceSource final : public ByteSource {
 public:
  PieceSource(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  bool Read(void* into, std::size_t count) override {
    fuzz::Require(count <= size_ - offset_, "a streaming read went past the body");
    std::memcpy(into, bytes_ + offset_, count);
    offset_ += count;
    return true;
  }
  std::size_t Offset() const { return offset_; }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

template <typename Msg>
void ExpectSameStreamed(const fuzz::ExactCopy& copy, void (*fn)(ByteBuffer&, Msg&), bool ok,
                        std::size_t consumed, const ByteBuffer& written) {
  PieceSource source(copy.Data(), copy.Size());
  ByteBuffer in(source, copy.Size());
  Msg msg{};
  bool streamedOk = true;
  try {
    fn(in, msg);
  } catch (const ByteBufferException& e) {
    fuzz::Require(e.bufferSize == copy.Size(), "streaming read failure names another size");
    streamedOk = false;
  }
  fuzz::Require(streamedOk == ok, "streaming and whole-body reads end differently");
  if (!ok) return;
  fuzz::Require(source.Offset() == consumed, "streaming read consumed another count");
  ByteBuffer rewritten(128, true);
  fn(rewritten, msg);
  fuzz::Require(rewritten.Size() == written.Size() &&
                    (written.Size() == 0 ||
                     std::memcmp(rewritten.Data(), written.Data(), written.Size()) == 0),
                "streaming read gives another message");

  ByteBuffer gathering(16, ByteBuffer::Gathering{});
  fn(gathering, msg);
  std::size_t at = 0;
  bool same = gathering.Size() == written.Size();
  gathering.ForEachBlock([&](const std::uint8_t* bytes, std::size_t count) {
    same =
        same && at + count <= written.Size() && std::memcmp(bytes, written.Data() + at, count) == 0;
    at += count;
  });
  fuzz::Require(same && at == written.Size(), "gathered bytes differ from copied ones");
}

template <typename Msg>
void RoundTrip(const std::uint8_t* body, std::size_t size, void (*fn)(ByteBuffer&, Msg&),
               bool exact) {
  fuzz::ExactCopy copy(body, size);
  Msg msg{};
  bool ok = false;
  const std::size_t consumed = Decode(copy.Data(), copy.Size(), fn, msg, ok);
  ByteBuffer out(128, true);
  if (ok) fn(out, msg);
  ExpectSameStreamed(copy, fn, ok, consumed, out);
  if (!ok) return;

  if (exact) {
    fuzz::Require(out.Size() == consumed, "re-encoded length differs from the bytes read");
    fuzz::Require(consumed == 0 || std::memcmp(out.Data(), copy.Data(), consumed) == 0,
                  "re-encoded bytes differ from the bytes read");
    return;
  }
  fuzz::Require(out.Size() <= consumed, "re-encoded body longer than the bytes read");
  fuzz::ExactCopy first(out.Data(), out.Size());
  Msg again{};
  const std::size_t consumedAgain = Decode(first.Data(), first.Size(), fn, again, ok);
  fuzz::Require(ok, "a re-encoded body does not read back");
  fuzz::Require(consumedAgain == first.Size(), "a re-encoded body reads back short");
  ByteBuffer second(128, true);
  fn(second, again);
  fuzz::Require(
      second.Size() == first.Size() &&
          (first.Size() == 0 || std::memcmp(second.Data(), first.Data(), first.Size()) == 0),
      "encoding is not stable after one round");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t* body = data + 1;
  const std::size_t bodySize = size - 1;
  switch (data[0] % 10) {
    case 0:
      RoundTrip<MsgDeleteJob>(body, bodySize, &SerializeMsgDeleteJob, true);
      break;
    case 1:
      RoundTrip<MsgGetMeasure>(body, bodySize, &SerializeMsgGetMeasure, true);
      break;
    case 2:
      RoundTrip<MsgGetSample>(body, bodySize, &SerializeMsgGetSample, true);
      break;
    case 3:
      RoundTrip<MsgAddJob>(body, bodySize, &SerializeMsgAddJob, true);
      break;
    case 4:
      RoundTrip<MsgDoJob>(body, bodySize, &SerializeMsgDoJob, true);
      break;
    case 5:
      RoundTrip<MsgUserMessage>(body, bodySize, &SerializeMsgUserMessage, true);
      break;
    case 6:
      RoundTrip<MsgAnswerJobInfo>(body, bodySize, &SerializeMsgAnswerJobInfo, false);
      break;
    case 7:
      RoundTrip<MsgAnswerGetMeasure>(body, bodySize, &SerializeMsgAnswerGetMeasure, false);
      break;
    case 8:
      RoundTrip<MsgAnswerGetSample>(body, bodySize, &SerializeMsgAnswerGetSample, false);
      break;
    case 9:
      RoundTrip<MsgAnswerGetLog>(body, bodySize, &SerializeMsgAnswerGetLog, true);
      break;
  }
  return 0;
}
