// MalformedFrames: a seeded generator of hostile client input for the
// driver, one case at a time, each with the outcome the driver owes.
//
// A case is the bytes one client sends plus what the client does afterwards
// (nothing, half-close, reset). Either the driver must drop the client (no
// answer), or it must serve the frame and answer once under a known id,
// with a known result code where the driver's rules fix it. Cases never
// change the driver's state that the suite checks: no terminate, connects
// only with a generous time-out to a valid address, deletes, runs and
// measurement requests only for names that are not stored, job additions
// only with texts the driver must refuse.
//
// The same seed gives the same sequence of cases.
//
// Threads: a generator is used by one thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fakes/RawClient.h"

namespace robustness {

using Bytes = std::vector<std::uint8_t>;

enum class CaseKind {
  UnknownType,         // no handler for the id: dropped, body unread
  ZeroSize,            // a valid id announcing no body: dropped
  TruncatedHeader,     // fewer than 16 header bytes, then FIN
  TruncatedBody,       // part of the announced body, then FIN
  RawTooShort,         // fixed-size request shorter than its structure
  RawTooLong,          // fixed-size request with extra bytes: served
  SerializedTooShort,  // a body that ends inside its fields
  OverflowingCount,    // a string count beyond the body (and beyond 32 bits x 4)
  SerializedTooLong,   // complete fields and extra bytes: served
  InvalidUtf8,         // texts that are not UTF-8: served, add-job refused
  InvalidUtf32,        // user messages with surrogates and out-of-range units
  TypeHighBits,        // high half of the type and reserved bytes set: served
  OversizedBody,       // a body announced above the shared receive buffer
  RandomBytes,         // random bytes, then FIN
  ResetMidRequest,     // part of a frame, then a reset
  ResetMidAnswer,      // a large answer requested, a reset while it flows
  kCount
};

const char* CaseKindName(CaseKind kind);

// What the client does after sending the case's bytes.
enum class Ending {
  None,                // keep the connection (served cases, and drops the driver sees at once)
  HalfClose,           // FIN: the driver sees the stream end inside a frame
  Reset,               // abortive close right after sending
  ResetWhileAnswered,  // read the answer's header, then reset
};

struct MalformedCase {
  CaseKind kind = CaseKind::UnknownType;
  Bytes bytes;
  Ending ending = Ending::None;
  // True: the driver must end the connection. False: it must answer once.
  bool drops = true;
  // Drops only: answers may come before the drop (random bytes can hold
  // whole requests).
  bool answersAllowed = false;
  // Served cases: the answer's id and, where fixed, its result code.
  std::uint32_t answerId = 0;
  std::optional<std::int32_t> code;
};

class MalformedFrameGenerator {
 public:
  // `measuredJob`: a stored job with a measured sample 0, whose sample
  // answer is large (ResetMidAnswer asks for it). `storedNames`: every name
  // stored on the instrument, never used by a case.
  MalformedFrameGenerator(std::uint32_t seed, std::string measuredJob,
                          std::vector<std::string> storedNames);

  MalformedCase Next();
  MalformedCase Make(CaseKind kind);

 private:
  std::uint32_t Uniform(std::uint32_t low, std::uint32_t high);  // inclusive
  Bytes RandomBytes(std::size_t count);
  std::string UnstoredName();
  std::string InvalidUtf8Text();
  // A complete, valid body for a serialized request id (4, 5, 6, 8, 9, 11)
  // that is served with a fixed code; `code` receives it.
  Bytes ServedBody(std::uint32_t id, std::int32_t& code);
  // A fixed-size request body of `size` bytes (>= the structure) that is
  // served; connects wait generously for a valid address.
  Bytes RawBody(std::uint32_t id, std::size_t size);
  // True when `stream` holds a frame header that would dispatch to an id
  // whose handler could change the checked state (1, 3, 4, 7, 8, 9).
  static bool ReachesStatefulHandler(const Bytes& stream);

  MalformedCase UnknownType();
  MalformedCase ZeroSize();
  MalformedCase TruncatedHeader();
  MalformedCase TruncatedBody();
  MalformedCase RawTooShort();
  MalformedCase RawTooLong();
  MalformedCase SerializedTooShort();
  MalformedCase OverflowingCount();
  MalformedCase SerializedTooLong();
  MalformedCase InvalidUtf8();
  MalformedCase InvalidUtf32();
  MalformedCase TypeHighBits();
  MalformedCase OversizedBody();
  MalformedCase Random();
  MalformedCase ResetMidRequest();
  MalformedCase ResetMidAnswer();

  std::mt19937 random_;
  std::string measuredJob_;
  std::vector<std::string> storedNames_;
  // Cursors that walk every wrong size of every fixed-size request in turn.
  std::size_t shortCursor_ = 0;
  std::size_t longCursor_ = 0;
};

}  // namespace robustness
