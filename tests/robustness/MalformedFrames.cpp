#include "robustness/MalformedFrames.h"

#include <algorithm>
#include <utility>

#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"
#include "messages/Messages.h"
#include "messages/Protocol.h"

namespace robustness {
namespace {

constexpr std::uint32_t kHeaderSize = 16;
constexpr std::uint32_t kSharedBuffer = 33554432;

// The fixed-size requests and the size of their structure.
struct RawRequest {
  std::uint32_t id;
  std::size_t size;
};
constexpr RawRequest kShortable[] = {{1, 8}, {2, 3}, {7, 8}};
constexpr std::uint32_t kServedRaw[] = {2, 10, 12};
constexpr std::uint32_t kSerialized[] = {4, 5, 6, 8, 9, 11};

template <typename Msg>
Bytes Encode(void (*fn)(ByteBuffer&, Msg&), Msg msg) {
  ByteBuffer buffer(64, true);
  fn(buffer, msg);
  return Bytes(buffer.Data(), buffer.Data() + buffer.Size());
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

}  // namespace

const char* CaseKindName(CaseKind kind) {
  switch (kind) {
    case CaseKind::UnknownType:
      return "unknown type id";
    case CaseKind::ZeroSize:
      return "zero body size";
    case CaseKind::TruncatedHeader:
      return "truncated header";
    case CaseKind::TruncatedBody:
      return "truncated body";
    case CaseKind::RawTooShort:
      return "fixed-size body too short";
    case CaseKind::RawTooLong:
      return "fixed-size body too long";
    case CaseKind::SerializedTooShort:
      return "serialized body too short";
    case CaseKind::OverflowingCount:
      return "overflowing count";
    case CaseKind::SerializedTooLong:
      return "serialized body too long";
    case CaseKind::InvalidUtf8:
      return "invalid UTF-8";
    case CaseKind::InvalidUtf32:
      return "invalid UTF-32";
    case CaseKind::TypeHighBits:
      return "type high bits / reserved set";
    case CaseKind::OversizedBody:
      return "body above 32 MiB announced";
    case CaseKind::RandomBytes:
      return "random bytes";
    case CaseKind::ResetMidRequest:
      return "reset mid-request";
    case CaseKind::ResetMidAnswer:
      return "reset mid-answer";
    case CaseKind::kCount:
      break;
  }
  return "?";
}

MalformedFrameGenerator::MalformedFrameGenerator(std::uint32_t seed, std::string measuredJob,
                                                 std::vector<std::string> storedNames)
    : random_(seed), measuredJob_(std::move(measuredJob)), storedNames_(std::move(storedNames)) {}

std::uint32_t MalformedFrameGenerator::Uniform(std::uint32_t low, std::uint32_t high) {
  return std::uniform_int_distribution<std::uint32_t>(low, high)(random_);
}

Bytes MalformedFrameGenerator::RandomBytes(std::size_t count) {
  Bytes bytes(count);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(Uniform(0, 255));
  return bytes;
}

std::string MalformedFrameGenerator::UnstoredName() {
  for (;;) {
    std::string name = "zz";
    const std::uint32_t length = Uniform(0, 24);
    for (std::uint32_t i = 0; i < length; ++i) name += static_cast<char>(Uniform(1, 255));
    if (std::find(storedNames_.begin(), storedNames_.end(), name) == storedNames_.end()) {
      return name;
    }
  }
}

std::string MalformedFrameGenerator::InvalidUtf8Text() {
  static const char* const kBroken[] = {
      "\xFF",                  // never valid
      "\xC0\xAF",              // overlong '/'
      "\xE0\x80\xAF",          // overlong, three bytes
      "\xED\xA0\x80",          // surrogate D800
      "\xF4\x90\x80\x80",      // above U+10FFFF
      "\xE2\x82",              // truncated sequence
      "\x80",                  // stray continuation byte
      "\xF8\x88\x80\x80\x80",  // five-byte form
  };
  std::string text;
  for (std::uint32_t i = Uniform(0, 6); i > 0; --i) text += static_cast<char>(Uniform('a', 'z'));
  text += kBroken[Uniform(0, std::size(kBroken) - 1)];
  for (std::uint32_t i = Uniform(0, 6); i > 0; --i) text += static_cast<char>(Uniform('a', 'z'));
  return text;
}

Bytes MalformedFrameGenerator::ServedBody(std::uint32_t id, std::int32_t& code) {
  switch (id) {
    case Protocol::kDeleteJob:
      code = 0;
      return Encode(&SerializeMsgDeleteJob, MsgDeleteJob{UnstoredName()});
    case Protocol::kGetMeasure:
      code = JobNotFoundCode;
      return Encode(&SerializeMsgGetMeasure, MsgGetMeasure{UnstoredName()});
    case Protocol::kGetSample:
      code = JobNotFoundCode;
      return Encode(&SerializeMsgGetSample,
                    MsgGetSample{UnstoredName(), static_cast<std::int32_t>(Uniform(0, ~0u))});
    case Protocol::kAddJob: {
      code = InvalidTextCode;
      MsgAddJob add{UnstoredName(), "Teal", Uniform(0, 5)};
      if (Uniform(0, 1) == 0) {
        add.name = "zz" + InvalidUtf8Text();
      } else {
        add.name = "zzvalid";
        add.make = InvalidUtf8Text();
      }
      return Encode(&SerializeMsgAddJob, add);
    }
    case Protocol::kDoJob:
      code = 3002;  // the instrument's "unknown job"
      return Encode(&SerializeMsgDoJob, MsgDoJob{UnstoredName()});
    case Protocol::kUserMessage: {
      code = 0;
      std::u32string text;
      for (std::uint32_t i = Uniform(0, 40); i > 0; --i)
        text += static_cast<char32_t>(Uniform(32, 0x2FFF));
      return Encode(&SerializeMsgUserMessage, MsgUserMessage{text});
    }
    default:
      code = 0;
      return {};
  }
}

Bytes MalformedFrameGenerator::RawBody(std::uint32_t id, std::size_t size) {
  Bytes body = RandomBytes(size);
  if (id == Protocol::kUsbConnect || id == Protocol::kNetworkConnect) {
    // A valid address and a time-out far above the instrument's connect time.
    if (id == Protocol::kNetworkConnect) {
      body[0] = 127;
      body[1] = 0;
      body[2] = 0;
      body[3] = 1;
    }
    const Bytes timeout = Le32(Uniform(5000, 60000));
    std::copy(timeout.begin(), timeout.end(), body.begin() + 4);
  }
  return body;
}

bool MalformedFrameGenerator::ReachesStatefulHandler(const Bytes& stream) {
  std::size_t at = 0;
  while (stream.size() - at >= kHeaderSize) {
    const Protocol::MessageHeader header = Protocol::ReadHeader(stream.data() + at);
    const std::uint32_t size = header.size;
    const std::size_t type = Protocol::DispatchType(header);
    if (type < 1 || type > 12 || size == 0) return false;
    at += kHeaderSize;
    if (stream.size() - at < size) return false;  // the body never completes
    switch (type) {
      case Protocol::kUsbConnect:
      case Protocol::kTerminate:
      case Protocol::kDeleteJob:
      case Protocol::kNetworkConnect:
      case Protocol::kAddJob:
      case Protocol::kDoJob:
        return true;
      default:
        break;
    }
    at += size;
  }
  return false;
}

MalformedCase MalformedFrameGenerator::Next() {
  // A dropped client costs a reconnect, and a new client waits for the
  // driver's next serving window (up to 16 ms); a served frame costs a round
  // trip. Served kinds are drawn four times as often as dropping ones, and
  // large answers (reset mid-answer) a quarter as often.
  static constexpr int kWeights[] = {
      4,   // UnknownType
      4,   // ZeroSize
      4,   // TruncatedHeader
      4,   // TruncatedBody
      4,   // RawTooShort
      16,  // RawTooLong
      4,   // SerializedTooShort
      4,   // OverflowingCount
      16,  // SerializedTooLong
      16,  // InvalidUtf8
      16,  // InvalidUtf32
      16,  // TypeHighBits
      4,   // OversizedBody
      4,   // RandomBytes
      4,   // ResetMidRequest
      1,   // ResetMidAnswer
  };
  static_assert(std::size(kWeights) == static_cast<std::size_t>(CaseKind::kCount));
  int total = 0;
  for (int weight : kWeights) total += weight;
  int pick = static_cast<int>(Uniform(0, static_cast<std::uint32_t>(total) - 1));
  int kind = 0;
  while (pick >= kWeights[kind]) pick -= kWeights[kind++];
  return Make(static_cast<CaseKind>(kind));
}

MalformedCase MalformedFrameGenerator::Make(CaseKind kind) {
  switch (kind) {
    case CaseKind::UnknownType:
      return UnknownType();
    case CaseKind::ZeroSize:
      return ZeroSize();
    case CaseKind::TruncatedHeader:
      return TruncatedHeader();
    case CaseKind::TruncatedBody:
      return TruncatedBody();
    case CaseKind::RawTooShort:
      return RawTooShort();
    case CaseKind::RawTooLong:
      return RawTooLong();
    case CaseKind::SerializedTooShort:
      return SerializedTooShort();
    case CaseKind::OverflowingCount:
      return OverflowingCount();
    case CaseKind::SerializedTooLong:
      return SerializedTooLong();
    case CaseKind::InvalidUtf8:
      return InvalidUtf8();
    case CaseKind::InvalidUtf32:
      return InvalidUtf32();
    case CaseKind::TypeHighBits:
      return TypeHighBits();
    case CaseKind::OversizedBody:
      return OversizedBody();
    case CaseKind::RandomBytes:
      return Random();
    case CaseKind::ResetMidRequest:
      return ResetMidRequest();
    case CaseKind::ResetMidAnswer:
    case CaseKind::kCount:
      break;
  }
  return ResetMidAnswer();
}

MalformedCase MalformedFrameGenerator::UnknownType() {
  MalformedCase c;
  c.kind = CaseKind::UnknownType;
  static constexpr std::uint32_t kIds[] = {0, 13, 14, 255, 0x7FFFFFFF, 0xFFFFFFFF};
  std::uint32_t id = Uniform(0, 1) == 0 ? kIds[Uniform(0, std::size(kIds) - 1)] : Uniform(13, ~0u);
  const std::uint64_t high =
      Uniform(0, 3) == 0 ? static_cast<std::uint64_t>(Uniform(1, ~0u)) << 32 : 0;
  const Bytes body = RandomBytes(Uniform(0, 64));
  const std::uint32_t announced =
      Uniform(0, 1) == 0 ? static_cast<std::uint32_t>(body.size()) : Uniform(0, ~0u);
  c.bytes = Protocol::BuildHeader(announced, high | id, Uniform(0, ~0u));
  Append(c.bytes, body);
  return c;
}

MalformedCase MalformedFrameGenerator::ZeroSize() {
  MalformedCase c;
  c.kind = CaseKind::ZeroSize;
  c.bytes = Protocol::BuildHeader(0, Uniform(1, 12));
  // Whatever follows is never read.
  Append(c.bytes, RandomBytes(Uniform(0, 8)));
  return c;
}

MalformedCase MalformedFrameGenerator::TruncatedHeader() {
  MalformedCase c;
  c.kind = CaseKind::TruncatedHeader;
  Bytes header = Protocol::BuildHeader(Uniform(1, 64), Uniform(1, 12));
  header.resize(Uniform(1, kHeaderSize - 1));
  c.bytes = header;
  c.ending = Ending::HalfClose;
  return c;
}

MalformedCase MalformedFrameGenerator::TruncatedBody() {
  MalformedCase c;
  c.kind = CaseKind::TruncatedBody;
  const std::uint32_t size = Uniform(0, 3) == 0 ? Uniform(2, 70000) : Uniform(2, 64);
  c.bytes = Protocol::BuildHeader(size, Uniform(1, 12));
  Append(c.bytes, RandomBytes(Uniform(0, size - 1)));
  c.ending = Ending::HalfClose;
  return c;
}

MalformedCase MalformedFrameGenerator::RawTooShort() {
  // Every shorter size of every fixed-size request with more than one byte,
  // in turn.
  std::vector<std::pair<std::uint32_t, std::size_t>> all;
  for (const RawRequest& r : kShortable) {
    for (std::size_t s = 1; s < r.size; ++s) all.emplace_back(r.id, s);
  }
  const auto [id, size] = all[shortCursor_++ % all.size()];
  MalformedCase c;
  c.kind = CaseKind::RawTooShort;
  c.bytes = Protocol::BuildFrame(id, RandomBytes(size));
  return c;
}

MalformedCase MalformedFrameGenerator::RawTooLong() {
  const std::size_t n = longCursor_++;
  std::uint32_t id = kServedRaw[n % std::size(kServedRaw)];
  std::size_t base = id == Protocol::kGetJobs ? 3 : 1;
  // Every 16th a connect (each costs the instrument's connect time).
  if (n % 16 == 15) {
    id = (n / 16) % 2 == 0 ? Protocol::kUsbConnect : Protocol::kNetworkConnect;
    base = 8;
  }
  // The sizes one to 64 above the structure in turn, every 8th far above.
  const std::size_t size = n % 8 == 7 ? base + Uniform(65, 70000) : base + 1 + (n / 3) % 64;
  MalformedCase c;
  c.kind = CaseKind::RawTooLong;
  c.bytes = Protocol::BuildFrame(id, RawBody(id, size));
  c.drops = false;
  c.answerId = id == Protocol::kNetworkConnect ? Protocol::kUsbConnect : id;
  c.code = 0;
  return c;
}

MalformedCase MalformedFrameGenerator::SerializedTooShort() {
  const std::uint32_t id = kSerialized[Uniform(0, std::size(kSerialized) - 1)];
  std::int32_t code = 0;
  Bytes body = ServedBody(id, code);
  body.resize(Uniform(1, static_cast<std::uint32_t>(body.size()) - 1));
  MalformedCase c;
  c.kind = CaseKind::SerializedTooShort;
  c.bytes = Protocol::BuildFrame(id, body);
  return c;
}

MalformedCase MalformedFrameGenerator::OverflowingCount() {
  const std::uint32_t id = kSerialized[Uniform(0, std::size(kSerialized) - 1)];
  const Bytes tail = RandomBytes(Uniform(4, 64));
  static constexpr std::uint32_t kCounts[] = {0xFFFFFFFF, 0x80000000, 0x7FFFFFFF,
                                              0x40000000, 0x40000001, 0x3FFFFFFF};
  std::uint32_t count = kCounts[Uniform(0, std::size(kCounts) - 1)];
  if (Uniform(0, 2) == 0) {
    // Just one more than the body holds.
    count = id == Protocol::kUserMessage ? static_cast<std::uint32_t>(tail.size() / 4 + 1)
                                         : static_cast<std::uint32_t>(tail.size() + 1);
  }
  Bytes body;
  if (id == Protocol::kAddJob && Uniform(0, 1) == 0) {
    body = Encode(&SerializeMsgDeleteJob, MsgDeleteJob{"zzname"});  // a valid first string
  }
  Append(body, Le32(count));
  Append(body, tail);
  MalformedCase c;
  c.kind = CaseKind::OverflowingCount;
  c.bytes = Protocol::BuildFrame(id, body);
  return c;
}

MalformedCase MalformedFrameGenerator::SerializedTooLong() {
  const std::uint32_t id = kSerialized[Uniform(0, std::size(kSerialized) - 1)];
  MalformedCase c;
  c.kind = CaseKind::SerializedTooLong;
  std::int32_t code = 0;
  Bytes body = ServedBody(id, code);
  Append(body, RandomBytes(Uniform(1, Uniform(0, 7) == 0 ? 70000 : 64)));
  c.bytes = Protocol::BuildFrame(id, body);
  c.drops = false;
  c.answerId = id;
  c.code = code;
  return c;
}

MalformedCase MalformedFrameGenerator::InvalidUtf8() {
  MalformedCase c;
  c.kind = CaseKind::InvalidUtf8;
  c.drops = false;
  const std::string text = "zz" + InvalidUtf8Text();
  switch (Uniform(0, 3)) {
    case 0:  // the add-job request must be refused before the instrument sees it
      c.answerId = Protocol::kAddJob;
      c.code = InvalidTextCode;
      c.bytes = Protocol::BuildFrame(
          c.answerId, Encode(&SerializeMsgAddJob, Uniform(0, 1) == 0 ? MsgAddJob{text, "Teal", 1}
                                                                     : MsgAddJob{"zzok", text, 1}));
      break;
    case 1:  // names are passed on as bytes
      c.answerId = Protocol::kDeleteJob;
      c.code = 0;
      c.bytes =
          Protocol::BuildFrame(c.answerId, Encode(&SerializeMsgDeleteJob, MsgDeleteJob{text}));
      break;
    case 2:
      c.answerId = Protocol::kDoJob;
      c.code = 3002;
      c.bytes = Protocol::BuildFrame(c.answerId, Encode(&SerializeMsgDoJob, MsgDoJob{text}));
      break;
    default:
      c.answerId = Protocol::kGetSample;
      c.code = JobNotFoundCode;
      c.bytes =
          Protocol::BuildFrame(c.answerId, Encode(&SerializeMsgGetSample, MsgGetSample{text, 0}));
      break;
  }
  return c;
}

MalformedCase MalformedFrameGenerator::InvalidUtf32() {
  static constexpr char32_t kBad[] = {0xD800,     0xDBFF,     0xDC00, 0xDFFF, 0x110000,
                                      0x7FFFFFFF, 0xFFFFFFFF, 0xFFFE, 0};
  std::u32string text;
  for (std::uint32_t i = Uniform(0, 8); i > 0; --i)
    text += static_cast<char32_t>(Uniform('a', 'z'));
  for (std::uint32_t i = Uniform(1, 4); i > 0; --i) text += kBad[Uniform(0, std::size(kBad) - 1)];
  for (std::uint32_t i = Uniform(0, 8); i > 0; --i)
    text += static_cast<char32_t>(Uniform('a', 'z'));
  MalformedCase c;
  c.kind = CaseKind::InvalidUtf32;
  c.drops = false;
  c.answerId = Protocol::kUserMessage;
  c.code = 0;
  c.bytes =
      Protocol::BuildFrame(c.answerId, Encode(&SerializeMsgUserMessage, MsgUserMessage{text}));
  return c;
}

MalformedCase MalformedFrameGenerator::TypeHighBits() {
  static constexpr std::uint32_t kIds[] = {2, 4, 5, 6, 9, 10, 11, 12};
  const std::uint32_t id = kIds[Uniform(0, std::size(kIds) - 1)];
  MalformedCase c;
  c.kind = CaseKind::TypeHighBits;
  c.drops = false;
  c.answerId = id;
  std::int32_t code = 0;
  Bytes body;
  if (id == Protocol::kGetJobs) {
    body = RandomBytes(3);
  } else if (id == Protocol::kCancel || id == Protocol::kGetLog) {
    body = RandomBytes(1);
  } else {
    body = ServedBody(id, code);
  }
  c.code = code;
  const std::uint64_t high = static_cast<std::uint64_t>(Uniform(1, ~0u)) << 32;
  c.bytes = Protocol::BuildFrame(high | id, body, Uniform(1, ~0u));
  return c;
}

MalformedCase MalformedFrameGenerator::OversizedBody() {
  MalformedCase c;
  c.kind = CaseKind::OversizedBody;
  const std::uint32_t size =
      Uniform(0, 15) == 0 ? Uniform(kSharedBuffer + 1, ~0u) : kSharedBuffer + Uniform(1, 32u << 20);
  c.bytes = Protocol::BuildHeader(size, Uniform(1, 12));
  Append(c.bytes, RandomBytes(Uniform(0, 2000)));
  c.ending = Ending::HalfClose;
  return c;
}

MalformedCase MalformedFrameGenerator::Random() {
  MalformedCase c;
  c.kind = CaseKind::RandomBytes;
  c.ending = Ending::HalfClose;
  c.answersAllowed = true;
  do {
    c.bytes.clear();
    if (Uniform(0, 1) == 0) {
      // A plausible header for a request without lasting effect, so that
      // random bodies reach the body readers.
      static constexpr std::uint32_t kIds[] = {2, 5, 6, 10, 11, 12};
      c.bytes = Protocol::BuildHeader(Uniform(1, 96), kIds[Uniform(0, std::size(kIds) - 1)]);
    }
    Append(c.bytes, RandomBytes(Uniform(1, 120)));
  } while (ReachesStatefulHandler(c.bytes));
  return c;
}

MalformedCase MalformedFrameGenerator::ResetMidRequest() {
  MalformedCase c;
  c.kind = CaseKind::ResetMidRequest;
  c.ending = Ending::Reset;
  const std::uint32_t size = Uniform(2, 5000);
  c.bytes = Protocol::BuildHeader(size, Uniform(1, 12));
  if (Uniform(0, 2) == 0) {
    c.bytes.resize(Uniform(1, kHeaderSize - 1));
  } else {
    Append(c.bytes, RandomBytes(Uniform(0, size - 1)));
  }
  return c;
}

MalformedCase MalformedFrameGenerator::ResetMidAnswer() {
  MalformedCase c;
  c.kind = CaseKind::ResetMidAnswer;
  c.ending = Ending::ResetWhileAnswered;
  c.bytes = Protocol::BuildFrame(Protocol::kGetSample,
                                 Encode(&SerializeMsgGetSample, MsgGetSample{measuredJob_, 0}));
  return c;
}

}  // namespace robustness
