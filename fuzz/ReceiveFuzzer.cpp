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
//   [7] bit 0 connect workers on a thread of their own (else run at once
//       by the request that starts them); bit 1 unused; bit 2 USB connect
//       refused; bit 3 network connect refused
//
// Properties checked besides the sanitizers: no exception other than
// ByteBufferException leaves the receive loop, and everything the driver
// sends is whole frames under answer ids, the serialized ones decoding to
// exactly their announced size.
//
// What lives for the whole run, so that an input costs what its bytes make
// the driver do: one fake instrument, one invoker and one connection with
// the 22 registrations (made again only after a terminate request deleted
// it), one thread that runs the connect workers (for inputs that ask for it:
// two thread switches per connect request would otherwise be most of the
// time of an input with many), and the two receive buffers. Each input
// starts from the same state: the connection is rewound, the instrument
// reconfigured, the glue made afresh, and every connect worker has run and
// been destroyed before the input ends, so nothing an input allocates
// outlives it (the fuzzer's leak check stays quiet, and a leak it reports
// is one).
#include <sys/mman.h>
#include <sys/prctl.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
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

// The driver's connect workers, run one after the other on one thread that
// lives as long as the process: a connect request waits for its worker
// across threads, with its time-out, as it does with a thread of its own, and
// a worker whose request gave up still runs later. Drain returns once every
// worker handed over has run and been destroyed.
class WorkerLane {
 public:
  static WorkerLane& Get() {
    static WorkerLane* lane = new WorkerLane();  // never destroyed: its thread never ends
    return *lane;
  }
  static bool Start(std::function<void()> work) {
    WorkerLane& lane = Get();
    {
      std::lock_guard lock(lane.mutex_);
      lane.pending_.push_back(std::move(work));
    }
    lane.changed_.notify_all();
    return true;
  }
  void Drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_.empty() && !busy_; });
  }

 private:
  WorkerLane() {
    pending_.reserve(64);
    std::thread([this] { Run(); }).detach();
  }
  void Run() {
    for (;;) {
      std::function<void()> work;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pending_.empty(); });
        work = std::move(pending_.front());
        pending_.erase(pending_.begin());
        busy_ = true;
      }
      work();
      work = nullptr;  // what the worker holds goes before Drain returns
      {
        std::lock_guard lock(mutex_);
        busy_ = false;
      }
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::function<void()>> pending_;
  bool busy_ = false;
};

// A connect worker run by the request that starts it, before the request
// waits: the request finds it finished at once, as when its thread is quick.
bool RunAtOnce(std::function<void()> work) {
  work();
  return true;
}

void InstallHooks() {
  Network::SetErrorHandler(&QuietErrorHandler);
  // The readiness polls pause for 0 ms (a nanosleep of nothing), which the
  // default timer slack would stretch to 50 microseconds each.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  (void)WorkerLane::Get();
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

// The objects every input is served by (see the top of the file). The
// invoker's handlers hold its address, so it never moves.
struct Harness {
  Fakes::FakeDevice device;
  DriverInvoker invoker;
  FakeConnection* connection = nullptr;  // owned by the invoker
};

Harness& TheHarness() {
  static Harness* harness = new Harness();  // never destroyed
  return *harness;
}

// A registered connection for the invoker unless it still has one.
void EnsureConnection(Harness& harness) {
  if (harness.invoker.connection != nullptr) return;
  harness.connection = new FakeConnection();
  harness.invoker.RegisterHandlers(*harness.connection);
  harness.invoker.connection = harness.connection;
}

void ConfigureDevice(Fakes::FakeDevice& device, const std::uint8_t* s) {
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

  // A connect takes no time of its own: whether a request's time-out ends
  // before its worker has run is up to the thread scheduling, as in the
  // driver.
  device.connectDelayMs = 0;
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

  Harness& harness = TheHarness();
  ConfigureDevice(harness.device, setup);
  CombiningGlue glue;
  DriverInvoker& invoker = harness.invoker;
  invoker.device = &harness.device;
  invoker.glue = &glue;
  invoker.exitProcess = &ThrowInsteadOfExit;
  invoker.readinessPollMs = 0;
  invoker.staleSignalPollMs = 0;
  invoker.startWorker = (setup[7] & 0x01) != 0 ? &WorkerLane::Start : &RunAtOnce;
  invoker.deviceConnected = (setup[0] & 0x01) != 0;
  EnsureConnection(harness);

  FakeConnection& connection = *harness.connection;
  constexpr std::size_t kChunks[] = {0, 1, 3, 16};
  connection.SetMaxChunk(kChunks[(setup[0] >> 1) & 0x03]);
  if (!stream.empty()) connection.AddBytes(stream);
  switch ((setup[0] >> 3) & 0x03) {
    case 1:
      connection.AddFailure();
      break;
    case 2:
      connection.SetHangAtEnd(true);
      break;
    default:
      break;
  }

  const std::int32_t window = (setup[0] & 0x20) != 0 ? 0 : -1;
  bool terminated = false;
  // As the main loop does: serve until the receive loop gives up; a malformed
  // body drops the client.
  for (int round = 0; round < 1 << 16; ++round) {
    bool served = false;
    try {
      served = connection.ReceiveWithHandlers(window);
    } catch (const ByteBufferException&) {
      served = false;
    } catch (const TerminateCalled& exit) {
      fuzz::Require(exit.code == 0, "terminate with a non-zero exit code");
      fuzz::Require(invoker.connection == nullptr, "terminate kept the connection");
      terminated = true;
    }
    if (terminated || !served) break;
  }
  WorkerLane::Get().Drain();
  if (terminated) {
    harness.connection = nullptr;  // deleted by the invoker
    EnsureConnection(harness);
  } else {
    CheckAnswers(connection);
    // The fake takes every byte sent: the connection never breaks here, so
    // the next input may reuse it.
    fuzz::Require(connection.LastDropReason() != Network::DropReason::SendFailed &&
                      connection.LastDropReason() != Network::DropReason::SendStalled,
                  "a send failed on a connection that takes every byte");
    connection.Rewind();
  }
  harness.device.ClearCalls();
  invoker.glue = nullptr;
  return 0;
}
