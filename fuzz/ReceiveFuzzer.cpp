// Fuzz target: a client's byte stream served by the driver's own receive
// loop, body readers and request handlers, against an in-process fake
// instrument and the combining glue.
//
// Input: an 8-byte set-up block, then the bytes the client sends (frames with
// 16-byte headers). The set-up block picks the fake instrument's behaviour so
// that every handler and every branch of it can be reached:
//   [0] bit 0 device session open; bits 1-2 short reads (none, 1, 3, 16
//       bytes); bits 3-4 end of stream (close, receive error, silence);
//       bit 5 serve windows of 0 ms (true returns) instead of unlimited
//   [1] which device operation fails (index into kFailable, else none)
//   [2] the failing code (index into kCodes)
//   [3] spectral geometries delivered (mod 12)
//   [4] image geometries delivered (mod 12); bit 4 one unlisted geometry;
//       bit 5 short contents
//   [5] bits 0-2 not-ready polls before ready; bit 3 never ready
//   [6] bits 0-1 stored jobs (J1, J2, J3); bits 2-3 their sample count;
//       bit 4 job state measuring instead of measured
//   [7] bits 0-1 connect delay (0, 0, 1, 2 ms); bit 2 USB connect refused;
//       bit 3 network connect refused
//
// Properties checked besides the sanitizers: no exception other than
// ByteBufferException leaves the receive loop, and everything the driver
// sends is whole frames under answer ids, the serialized ones decoding to
// exactly their announced size.
#include <sys/mman.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/DriverInvoker.h"
#include "fakes/FakeConnection.h"
#include "fakes/FakeDevice.h"
#include "fuzz/FuzzInput.h"
#include "messages/MessageHeader.h"
#include "messages/Messages.h"
#include "messages/Protocol.h"
#include "network/ErrorReporting.h"
#include "sim/glue/CombiningGlue.h"

namespace {

constexpr std::size_t kSetupSize = 8;

// Thrown by the replacement of the process exit, caught below: Terminate must
// not return, and the fuzzer must go on.
struct TerminateCalled {
  int code;
};

void ThrowInsteadOfExit(int code) { throw TerminateCalled{code}; }

// Connection errors end one client in the driver; here they are expected
// outcomes of the script and stay quiet.
void QuietErrorHandler(void*, const char*, std::int32_t) {}

// Every receive loop takes a 32 MiB buffer, and bodies announced above that
// one of their own (folded below to at most 64 KiB more). Under the address
// sanitizer each such allocation maps and poisons fresh shadow memory, which
// costs a quarter of a second here and would leave the fuzzer at a few runs
// per second. Two blocks, made once and handed out one at a time, serve those
// sizes; everything else goes to malloc as usual. The blocks are mapped
// directly, so that the leak checker does not scan 64 MiB of body bytes for
// pointers after every new input. Reads past a body inside
// these blocks are not caught either way: the body readers have a target of
// their own that checks them over exact-size copies.
constexpr std::size_t kFoldSpan = 65536;

struct CachedBlock {
  std::size_t low;  // sizes in (low, high] are served
  std::size_t high;
  void* block = nullptr;
  std::atomic<bool> busy{false};
};

CachedBlock cachedBlocks[] = {
    {Network::kDefaultReceiveBufferSize - 1, Network::kDefaultReceiveBufferSize},
    {Network::kDefaultReceiveBufferSize, Network::kDefaultReceiveBufferSize + 1 + kFoldSpan},
};

void* AllocateCached(std::size_t size) {
  for (CachedBlock& cached : cachedBlocks) {
    if (size <= cached.low || size > cached.high) continue;
    if (cached.block == nullptr || cached.busy.exchange(true)) break;
    return cached.block;
  }
  return std::malloc(size == 0 ? 1 : size);
}

void ReleaseCached(void* block) {
  for (CachedBlock& cached : cachedBlocks) {
    if (block != nullptr && block == cached.block) {
      cached.busy.store(false);
      return;
    }
  }
  std::free(block);
}

void InstallHooks() {
  Network::SetErrorHandler(&QuietErrorHandler);
  for (CachedBlock& cached : cachedBlocks) {
    void* block =
        ::mmap(nullptr, cached.high, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    cached.block = block == MAP_FAILED ? nullptr : block;
  }
  Network::SetMemoryFunctions(&AllocateCached, &ReleaseCached);
}

constexpr std::int32_t kCodes[] = {3001, 3004, -1, 99999, 1002, 7, INT32_MIN, INT32_MAX};

enum Failable {
  kGetState,
  kDoJob,
  kGetSample,
  kCancel,
  kGetJobs,
  kAddJob,
  kDeleteJob,
  kGetLog,
  kSendUserMessage,
  kCorrectExrImage,
  kFailableCount
};

// One instrument for the whole run: a connect worker that outlived its
// time-out may still be inside it when the next input starts. Every switch a
// worker does not read is reset per input.
Fakes::FakeDevice& Device() {
  static Fakes::FakeDevice* device = new Fakes::FakeDevice();  // never destroyed
  return *device;
}

void ConfigureDevice(Fakes::FakeDevice& device, const std::uint8_t* s) {
  device.ClearCalls();
  const std::int32_t code = kCodes[s[2] % (sizeof kCodes / sizeof kCodes[0])];
  const int failing = s[1] % 16;
  auto pick = [&](Failable which) { return failing == which ? code : 0; };
  device.getStateResult = pick(kGetState);
  device.doJobResult = pick(kDoJob);
  device.getSampleResult = pick(kGetSample);
  device.cancelResult = pick(kCancel);
  device.getJobsResult = pick(kGetJobs);
  device.addJobResult = pick(kAddJob);
  device.deleteJobResult = pick(kDeleteJob);
  device.getLogResult = pick(kGetLog);
  device.sendUserMessageResult = pick(kSendUserMessage);
  device.correctExrImageResult = pick(kCorrectExrImage);

  device.sample.geometryCount = s[3] % 12;
  device.sample.imageCount = s[4] % 12;
  device.sample.unlistedGeometry = (s[4] & 0x10) != 0;
  device.sample.shortContents = (s[4] & 0x20) != 0;

  device.deviceStates.clear();
  if ((s[5] & 0x08) != 0) {
    device.deviceStates.push_back(1);
  } else {
    for (int i = 0; i < (s[5] & 0x07); ++i) device.deviceStates.push_back(1);
    device.deviceStates.push_back(2);
  }

  // Jobs do not follow AddJob: a client-chosen sample count of 2^31 would
  // make one measurement request run for hours, which says nothing new.
  device.jobsFollowCalls = false;
  device.jobs.clear();
  const char* names[] = {"J1", "J2", "J3"};
  for (int i = 0; i < (s[6] & 0x03); ++i) {
    device.jobs.push_back({names[i], (s[6] >> 2) & 0x03, (s[6] & 0x10) != 0 ? 2000 : 2004});
  }
  device.log = {'f', 'u', 'z', 'z'};

  constexpr int kDelays[] = {0, 0, 1, 2};
  device.connectDelayMs = kDelays[s[7] & 0x03];
  device.connectUsbResult = (s[7] & 0x04) != 0 ? code : 0;
  device.connectNetworkResult = (s[7] & 0x08) != 0 ? code : 0;
}

// A header announcing more than the shared receive buffer makes the driver
// allocate that much before the body arrives. Sizes of up to 4 GiB are legal,
// but the fuzzer's memory limit is not the subject here: such sizes are
// folded to just above the shared buffer, which keeps that path covered.
void FoldLargeSizes(std::vector<std::uint8_t>& stream) {
  std::size_t at = 0;
  while (stream.size() - at >= Protocol::kHeaderSize) {
    Protocol::MessageHeader header = Protocol::ReadHeader(stream.data() + at);
    if (header.size > Network::kDefaultReceiveBufferSize) {
      header.size = static_cast<std::uint32_t>(Network::kDefaultReceiveBufferSize + 1 +
                                               header.size % kFoldSpan);
      Protocol::WriteHeader(header, stream.data() + at);
    }
    const std::size_t type = Protocol::DispatchType(header);
    if (type < Protocol::kUsbConnect || type > Protocol::kGetLog || header.size == 0) break;
    at += Protocol::kHeaderSize;
    if (stream.size() - at < header.size) break;
    at += header.size;
  }
}

template <typename Msg>
void RequireExactDecode(const std::uint8_t* body, std::size_t size, void (*fn)(ByteBuffer&, Msg&)) {
  fuzz::ExactCopy copy(body, size);
  ByteBuffer in(copy.Data(), copy.Size(), false);
  Msg msg{};
  fn(in, msg);  // a ByteBufferException here escapes: a crash, as it should
  fuzz::Require(in.Remaining() == 0, "answer body longer than its message");
}

// Everything sent must be one whole frame per Send call, under an answer id.
void CheckAnswers(const FakeConnection& connection) {
  for (const std::vector<std::uint8_t>& call : connection.SendCalls()) {
    fuzz::Require(call.size() >= Protocol::kHeaderSize, "send shorter than a header");
    const Protocol::MessageHeader header = Protocol::ReadHeader(call.data());
    fuzz::Require(header.size == call.size() - Protocol::kHeaderSize,
                  "frame size does not match its body");
    fuzz::Require(header.type >> 32 == 0, "answer id not zero-extended");
    const std::uint8_t* body = call.data() + Protocol::kHeaderSize;
    switch (header.type) {
      case Protocol::kUsbConnect:
      case Protocol::kDeleteJob:
      case Protocol::kAddJob:
      case Protocol::kDoJob:
      case Protocol::kCancel:
      case Protocol::kUserMessage:
        fuzz::Require(header.size == 4, "bare result code is not 4 bytes");
        break;
      case Protocol::kGetJobs:
        RequireExactDecode<MsgAnswerJobInfo>(body, header.size, &SerializeMsgAnswerJobInfo);
        break;
      case Protocol::kGetMeasure:
        RequireExactDecode<MsgAnswerGetMeasure>(body, header.size, &SerializeMsgAnswerGetMeasure);
        break;
      case Protocol::kGetSample:
        RequireExactDecode<MsgAnswerGetSample>(body, header.size, &SerializeMsgAnswerGetSample);
        break;
      case Protocol::kGetLog:
        RequireExactDecode<MsgAnswerGetLog>(body, header.size, &SerializeMsgAnswerGetLog);
        break;
      default:
        fuzz::Require(false, "answer under a type id that is no answer");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool once = [] {
    InstallHooks();
    return true;
  }();
  (void)once;

  std::uint8_t setup[kSetupSize] = {};
  const std::size_t setupBytes = size < kSetupSize ? size : kSetupSize;
  if (setupBytes != 0) std::memcpy(setup, data, setupBytes);
  std::vector<std::uint8_t> stream(data + setupBytes, data + size);
  FoldLargeSizes(stream);

  Fakes::FakeDevice& device = Device();
  ConfigureDevice(device, setup);
  CombiningGlue glue;
  DriverInvoker invoker;
  invoker.device = &device;
  invoker.glue = &glue;
  invoker.exitProcess = &ThrowInsteadOfExit;
  invoker.readinessPollMs = 0;
  invoker.deviceConnected = (setup[0] & 0x01) != 0;

  auto* connection = new FakeConnection();  // owned by the invoker from here on
  constexpr std::size_t kChunks[] = {0, 1, 3, 16};
  connection->SetMaxChunk(kChunks[(setup[0] >> 1) & 0x03]);
  if (!stream.empty()) connection->AddBytes(stream);
  switch ((setup[0] >> 3) & 0x03) {
    case 1:
      connection->AddFailure();
      break;
    case 2:
      connection->SetHangAtEnd(true);
      break;
    default:
      break;
  }
  invoker.connection = connection;
  invoker.RegisterHandlers(*connection);

  const std::int32_t window = (setup[0] & 0x20) != 0 ? 0 : -1;
  bool terminated = false;
  // As the main loop does: serve until the receive loop gives up; a malformed
  // body drops the client.
  for (int round = 0; round < 1 << 16; ++round) {
    bool served = false;
    try {
      served = connection->ReceiveWithHandlers(window);
    } catch (const ByteBufferException&) {
      served = false;
    } catch (const TerminateCalled& exit) {
      fuzz::Require(exit.code == 0, "terminate with a non-zero exit code");
      fuzz::Require(invoker.connection == nullptr, "terminate kept the connection");
      terminated = true;
    }
    if (terminated || !served) break;
  }
  if (!terminated) {
    CheckAnswers(*connection);
    delete invoker.connection;
    invoker.connection = nullptr;
  }
  return 0;
}
