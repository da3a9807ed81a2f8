#include "unit/network/NetworkTestSupport.h"

#include <cstdlib>
#include <cstring>

#include "network/ErrorReporting.h"
#include "platform/Time.h"

namespace nettest {
namespace {

constexpr int kMaxReports = 32;
Report g_reports[kMaxReports];
std::atomic<int> g_reportCount{0};

void RecordError(void* source, const char* message, std::int32_t code) {
  const int index = g_reportCount.fetch_add(1);
  if (index >= kMaxReports) return;
  g_reports[index].source = source;
  g_reports[index].code = code;
  std::strncpy(g_reports[index].text, message, sizeof g_reports[index].text - 1);
  g_reports[index].text[sizeof g_reports[index].text - 1] = '\0';
}

void IgnoreError(void*, const char*, std::int32_t) {}

std::atomic<long> g_allocations{0};
std::atomic<long> g_releases{0};
std::atomic<std::size_t> g_failSize{0};
std::atomic<std::size_t> g_failAbove{0};
std::atomic<std::thread::id> g_failThread{};
constexpr int kMaxBigSizes = 64;
std::atomic<std::size_t> g_bigSizes[kMaxBigSizes];
std::atomic<int> g_bigCount{0};

void* CountingAllocate(std::size_t size) {
  if (size == g_failSize.load()) return nullptr;
  const std::size_t above = g_failAbove.load();
  if (above != 0 && size > above) return nullptr;
  if (g_failThread.load() == std::this_thread::get_id()) return nullptr;
  if (size >= (1u << 20)) {
    const int index = g_bigCount.fetch_add(1);
    if (index < kMaxBigSizes) g_bigSizes[index].store(size);
  }
  void* block = std::malloc(size);
  if (block != nullptr) g_allocations.fetch_add(1);
  return block;
}

void CountingRelease(void* block) {
  g_releases.fetch_add(1);
  std::free(block);
}

}  // namespace

RecordedErrors::RecordedErrors() {
  Network::SetErrorHandler(&RecordError);
  Clear();
}
RecordedErrors::~RecordedErrors() { Network::SetErrorHandler(&IgnoreError); }
int RecordedErrors::Count() const { return g_reportCount.load(); }
const Report& RecordedErrors::At(int index) const { return g_reports[index]; }
void RecordedErrors::Clear() { g_reportCount.store(0); }

CountingHooks::CountingHooks() {
  Reset();
  Network::SetMemoryFunctions(&CountingAllocate, &CountingRelease);
}
CountingHooks::~CountingHooks() {
  Reset();
  Network::SetMemoryFunctions(nullptr, nullptr);
}
long CountingHooks::Allocations() const { return g_allocations.load(); }
long CountingHooks::Releases() const { return g_releases.load(); }
bool CountingHooks::SawSize(std::size_t size) const {
  const int count = g_bigCount.load();
  for (int i = 0; i < count && i < kMaxBigSizes; ++i) {
    if (g_bigSizes[i].load() == size) return true;
  }
  return false;
}
void CountingHooks::FailSize(std::size_t size) { g_failSize.store(size); }
void CountingHooks::FailAbove(std::size_t size) { g_failAbove.store(size); }
void CountingHooks::FailOnThread(std::thread::id thread) { g_failThread.store(thread); }
void CountingHooks::Reset() {
  g_allocations.store(0);
  g_releases.store(0);
  g_failSize.store(0);
  g_failAbove.store(0);
  g_failThread.store(std::thread::id{});
  g_bigCount.store(0);
}

std::uint16_t FreePort() {
  Platform::InitSocketLayer();
  const Platform::ListenResult probe = Platform::OpenListeningSocket(0);
  if (probe.socket == Platform::kInvalidSocket) return 0;
  const std::uint16_t port = Platform::LocalPort(probe.socket);
  Platform::CloseSocket(probe.socket);
  return port;
}

Platform::SocketHandle ConnectLoopback(std::uint16_t port, std::uint32_t patienceMs) {
  const std::uint64_t start = Platform::TickCountMs();
  for (;;) {
    const Platform::ConnectResult result = Platform::ConnectTo("127.0.0.1", port, 2000);
    if (result.socket != Platform::kInvalidSocket) return result.socket;
    if (Platform::TickCountMs() - start > patienceMs) return Platform::kInvalidSocket;
    Platform::SleepMs(10);
  }
}

void SpendATick() {
  const std::uint64_t start = Platform::TickCountMs();
  while (Platform::TickCountMs() == start) Platform::SleepMs(1);
}

bool SendAll(Platform::SocketHandle socket, const void* data, std::size_t count) {
  const Platform::ConstBuffer part{data, count};
  return Platform::SendAllWithin(socket, &part, 1, Platform::kWaitForever).status ==
         Platform::SendStatus::Sent;
}

}  // namespace nettest
