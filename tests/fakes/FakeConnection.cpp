#include "fakes/FakeConnection.h"

#include <algorithm>
#include <cstring>

#include "network/ErrorReporting.h"

FakeConnection::FakeConnection() : Network::Connection(Platform::kInvalidSocket) {}

void FakeConnection::AddBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t gapMs) {
  Step step;
  step.bytes = bytes;
  step.gapMs = gapMs;
  script.push_back(std::move(step));
}

void FakeConnection::AddFailure(int osError) {
  Step step;
  step.fail = true;
  step.osError = osError;
  script.push_back(std::move(step));
}

void FakeConnection::Rewind() {
  script.clear();
  hangAtEnd = false;
  maxChunk = 0;
  failSends = false;
  stallSends = false;
  sendCalls.clear();
  bytesRead = 0;
  timeOuts = 0;
  RecordSocketError(0);
}

std::size_t FakeConnection::BytesPending() const {
  std::size_t pending = 0;
  for (const Step& step : script) pending += step.bytes.size() - step.offset;
  return pending;
}

bool FakeConnection::State(Network::StateQuery which, std::uint32_t timeoutMs) {
  switch (which) {
    case Network::StateQuery::Read:
      if (script.empty()) return !hangAtEnd;
      if (script.front().gapMs <= timeoutMs) {
        script.front().gapMs = 0;
        return true;
      }
      script.front().gapMs -= timeoutMs;
      return false;
    case Network::StateQuery::Write:
      return true;
    default:
      return false;
  }
}

bool FakeConnection::Send(const void* data, std::size_t count, std::uint32_t) {
  if (count == 0) return true;
  if (failSends) {
    RecordSocketError(32);
    Network::ReportText(this, Network::kSendFailedCode, "Connection::Send send return error");
    return false;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  sendCalls.emplace_back(bytes, bytes + count);
  return true;
}

Platform::SendStatus FakeConnection::SendParts(const Platform::ConstBuffer* parts,
                                               std::size_t count) {
  if (stallSends) return Platform::SendStatus::Stalled;
  // The parts of one frame are recorded as one Send call, as a socket sends
  // them as one stream.
  std::vector<std::uint8_t> joined;
  for (std::size_t i = 0; i < count; ++i) {
    const auto* bytes = static_cast<const std::uint8_t*>(parts[i].data);
    joined.insert(joined.end(), bytes, bytes + parts[i].size);
  }
  return Send(joined.data(), joined.size(), Network::kNoTimeout) ? Platform::SendStatus::Sent
                                                                 : Platform::SendStatus::Failed;
}

std::size_t FakeConnection::Receive(void* buffer, std::size_t count, std::uint32_t timeoutMs) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t received = 0;
  while (received < count) {
    const Network::PartialReceive part =
        ReceiveAvailable(bytes + received, count - received, timeoutMs);
    if (part.status != Network::ReceiveStatus::Data) break;
    received += part.count;
  }
  return received;
}

Network::PartialReceive FakeConnection::ReceiveAvailable(void* buffer, std::size_t count,
                                                         std::uint32_t waitMs) {
  using Network::ReceiveStatus;
  if (count == 0) return {0, ReceiveStatus::Data};
  if (script.empty()) {
    if (hangAtEnd && waitMs != Network::kNoTimeout) {
      ++timeOuts;
      return {0, ReceiveStatus::TimedOut};
    }
    return {0, ReceiveStatus::Closed};
  }
  Step& step = script.front();
  if (!step.fail && step.bytes.empty()) {  // a gap without bytes
    script.pop_front();
    return ReceiveAvailable(buffer, count, waitMs);
  }
  if (waitMs != Network::kNoTimeout && step.gapMs > waitMs) {
    step.gapMs -= waitMs;
    ++timeOuts;
    return {0, ReceiveStatus::TimedOut};
  }
  step.gapMs = 0;
  if (step.fail) {
    const int error = step.osError;
    script.pop_front();
    RecordSocketError(error);
    Network::ReportText(this, Network::kReceiveFailedCode, "Connection::Receive recv return error");
    return {0, ReceiveStatus::Failed};
  }
  std::size_t take = std::min(count, step.bytes.size() - step.offset);
  if (maxChunk != 0) take = std::min(take, maxChunk);
  std::memcpy(buffer, step.bytes.data() + step.offset, take);
  step.offset += take;
  bytesRead += take;
  if (step.offset == step.bytes.size()) script.pop_front();
  return {take, ReceiveStatus::Data};
}
