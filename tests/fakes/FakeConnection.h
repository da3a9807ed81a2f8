// FakeConnection: a Connection without socket whose incoming bytes follow a
// script, for driving the framing and dispatch layer through short reads,
// quiet gaps, failures and closes, and for recording what it sends.
//
// Time is virtual: a scripted gap before some bytes is compared with the
// waits the reader asks for; nothing sleeps. A wait shorter than the
// remaining gap times out and uses that much of the gap.
//
// Threads: one thread at a time, like a Connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "network/Connection.h"

class FakeConnection : public Network::Connection {
 public:
  FakeConnection();

  // Bytes that become readable after `gapMs` of quiet.
  void AddBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t gapMs = 0);
  // The next read fails with `osError` (reported with code 7 like a socket).
  void AddFailure(int osError = 104);
  // After the script: true = no further byte ever comes (waits time out);
  // false (default) = the peer closes the stream. An unlimited wait on a
  // hanging script ends as a close, so that a test cannot hang.
  void SetHangAtEnd(bool hang) { hangAtEnd = hang; }
  // At most `bytes` per read (short reads); 0 = no limit.
  void SetMaxChunk(std::size_t bytes) { maxChunk = bytes; }
  // Every Send fails (reported with code 6).
  void SetFailSends(bool fail) { failSends = fail; }
  // Every frame sent stalls: the peer takes no byte of it (not reported).
  void SetStallSends(bool stall) { stallSends = stall; }
  // Starts over with an empty script, the switches above at their defaults,
  // no recorded sends and zero counters, keeping every registration, so one
  // connection can serve many scripts. Only for a connection none of whose
  // sends failed or stalled: the Connection stays broken after those.
  void Rewind();

  // One entry per Send call, the bytes of that call.
  const std::vector<std::vector<std::uint8_t>>& SendCalls() const { return sendCalls; }
  std::size_t BytesRead() const { return bytesRead; }
  std::size_t BytesPending() const;
  // Number of ReceiveAvailable calls that waited with a limit and timed out.
  int TimeOuts() const { return timeOuts; }

  bool State(Network::StateQuery which, std::uint32_t timeoutMs) override;
  bool Send(const void* data, std::size_t count, std::uint32_t timeoutMs) override;
  std::size_t Receive(void* buffer, std::size_t count, std::uint32_t timeoutMs) override;
  Network::PartialReceive ReceiveAvailable(void* buffer, std::size_t count,
                                           std::uint32_t waitMs) override;

 protected:
  Platform::SendStatus SendParts(const Platform::ConstBuffer* parts, std::size_t count) override;

 private:
  struct Step {
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
    std::uint32_t gapMs = 0;
    bool fail = false;
    int osError = 0;
  };

  std::deque<Step> script;
  bool hangAtEnd = false;
  std::size_t maxChunk = 0;
  bool failSends = false;
  bool stallSends = false;
  std::vector<std::vector<std::uint8_t>> sendCalls;
  std::size_t bytesRead = 0;
  int timeOuts = 0;
};
