// Error handler chain, report formatting and the allocation hooks behind the
// driver's replaced operators new and delete (this suite links the driver's
// allocation policy, driver/AllocationPolicy.h).
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <thread>
#include <vector>

#include "network/AcceptConnection.h"
#include "network/ErrorReporting.h"
#include "unit/network/NetworkTestSupport.h"

namespace {

// Keeps the compiler from eliding a new/delete pair.
void* volatile g_sink = nullptr;
template <typename T>
T* Keep(T* pointer) {
  g_sink = pointer;
  return pointer;
}

void* g_firstSource = reinterpret_cast<void*>(1);
int g_firstCalls = 0;
std::string g_firstText;
std::int32_t g_firstCode = 0;
void FirstHandler(void* source, const char* message, std::int32_t code) {
  ++g_firstCalls;
  g_firstSource = source;
  g_firstText = message;
  g_firstCode = code;
}

TEST(ErrorReporting, ReplacingAHandlerTellsThePreviousOneWithCode2) {
  g_firstCalls = 0;
  Network::SetErrorHandler(&FirstHandler);
  EXPECT_EQ(g_firstCalls, 0);  // the notice went to the handler installed before
  {
    nettest::RecordedErrors errors;  // replaces FirstHandler
    EXPECT_EQ(g_firstCalls, 1);
    EXPECT_EQ(g_firstSource, nullptr);
    EXPECT_EQ(g_firstCode, 2);
    EXPECT_EQ(g_firstText, "Error handler already set! Previous error handler will be overwritten");
    // A null handler installs the silent one; the recorder hears of it first.
    Network::SetErrorHandler(nullptr);
    ASSERT_EQ(errors.Count(), 1);
    EXPECT_EQ(errors.At(0).code, 2);
    Network::ReportError(nullptr, 6, "not delivered anywhere");
    EXPECT_EQ(errors.Count(), 1);
  }
}

TEST(ErrorReporting, FormatsWithPrintfConventionsAndCutsAt511) {
  nettest::RecordedErrors errors;
  int source = 0;
  Network::ReportError(&source, 8, "type '%zu' size %u", static_cast<std::size_t>(12), 33554432u);
  ASSERT_EQ(errors.Count(), 1);
  EXPECT_EQ(errors.At(0).source, &source);
  EXPECT_EQ(errors.At(0).code, 8);
  EXPECT_STREQ(errors.At(0).text, "type '12' size 33554432");

  const std::string exact(511, 'x');
  Network::ReportError(nullptr, 3, "%s", exact.c_str());
  EXPECT_EQ(std::string(errors.At(1).text), exact);

  const std::string tooLong = std::string(511, 'y') + "z";
  Network::ReportError(nullptr, 3, "%s", tooLong.c_str());
  EXPECT_EQ(std::string(errors.At(2).text), std::string(511, 'y'));
}

TEST(AllocationHooks, FailedAllocationsReportCode3ThenNullOrBadAlloc) {
  nettest::RecordedErrors errors;
  nettest::CountingHooks hooks;
  hooks.FailSize(4000);
  char* nothing = Keep(new (std::nothrow) char[4000]);
  EXPECT_EQ(nothing, nullptr);
  ASSERT_EQ(errors.Count(), 1);
  EXPECT_EQ(errors.At(0).source, nullptr);
  EXPECT_EQ(errors.At(0).code, 3);
  EXPECT_STREQ(errors.At(0).text,
               "Memory allocation failed. Can't allocate 4000 bytes. Network library can work "
               "unstable");

  EXPECT_THROW(Keep(new char[4000]), std::bad_alloc);
  EXPECT_EQ(errors.Count(), 2);
  EXPECT_EQ(errors.At(1).code, 3);
  hooks.FailSize(0);
}

struct HandlerThrew {};
int g_throwingCalls = 0;
void ThrowingHandler(void*, const char*, std::int32_t code) {
  if (code != 3) return;
  ++g_throwingCalls;
  throw HandlerThrew{};
}

TEST(AllocationHooks, AHandlerThatThrowsLeavesLaterFailuresReported) {
  nettest::CountingHooks hooks;
  Network::SetErrorHandler(&ThrowingHandler);
  g_throwingCalls = 0;
  hooks.FailSize(4000);
  // Each failure reaches the handler: the guard against a report inside a
  // report is released when the handler's exception passes through.
  for (int round = 1; round <= 2; ++round) {
    EXPECT_THROW(Keep(new char[4000]), HandlerThrew);
    EXPECT_EQ(g_throwingCalls, round);
  }
  hooks.FailSize(0);
  Network::SetErrorHandler(nullptr);
}

TEST(AllocationHooks, EveryFormOfNewAndDeleteGoesThroughTheHooks) {
  nettest::CountingHooks hooks;
  auto* single = Keep(new int(7));
  auto* array = Keep(new int[3]);
  auto* quiet = Keep(new (std::nothrow) double(1.5));
  auto* empty = Keep(new char[0]);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(hooks.Allocations(), 4);
  delete single;  // sized delete
  delete[] array;
  delete quiet;
  delete[] empty;
  EXPECT_EQ(hooks.Releases(), 4);
}

TEST(AllocationHooks, AcceptConnectionGivesNullWhenTheConnectionCannotBeAllocated) {
  nettest::RecordedErrors errors;
  nettest::CountingHooks hooks;
  const std::uint16_t port = nettest::FreePort();
  ASSERT_NE(port, 0);
  Network::Connection* accepted = reinterpret_cast<Network::Connection*>(1);
  Network::AcceptFailure failure;
  std::thread server([&] {
    hooks.FailOnThread(std::this_thread::get_id());
    accepted = Network::AcceptConnection(port, &failure);
    hooks.FailOnThread(std::thread::id{});
  });
  const Platform::SocketHandle client = nettest::ConnectLoopback(port);
  server.join();
  Platform::CloseSocket(client);
  ASSERT_NE(client, Platform::kInvalidSocket);
  EXPECT_EQ(accepted, nullptr);
  EXPECT_EQ(failure.step, Network::AcceptStep::Allocate);
  ASSERT_EQ(errors.Count(), 1);
  EXPECT_EQ(errors.At(0).code, 3);
  const std::string expected = "Memory allocation failed. Can't allocate " +
                               std::to_string(sizeof(Network::Connection)) +
                               " bytes. Network library can work unstable";
  EXPECT_EQ(std::string(errors.At(0).text), expected);
}

// Accept steps that fail as an incoming connection can (reset before it was
// taken, descriptors exhausted for a moment) and one that says the listener
// itself is unusable.
#if defined(_WIN32)
constexpr int kResetBeforeAccept = 10054;  // WSAECONNRESET
constexpr int kNoDescriptors = 10024;      // WSAEMFILE
constexpr int kNotASocket = 10038;         // WSAENOTSOCK
#else
constexpr int kResetBeforeAccept = 103;  // ECONNABORTED
constexpr int kNoDescriptors = 24;       // EMFILE
constexpr int kNotASocket = 88;          // ENOTSOCK
#endif
std::vector<int> g_acceptErrors;
int g_acceptCalls = 0;
Platform::SocketHandle ScriptedAccept(Platform::SocketHandle listener, int* error) {
  if (static_cast<std::size_t>(g_acceptCalls) < g_acceptErrors.size()) {
    // Fail only once a client waits, as a real accept would.
    Platform::WaitReady(listener, Platform::Readiness::Read, 5000);
    *error = g_acceptErrors[g_acceptCalls++];
    return Platform::kInvalidSocket;
  }
  ++g_acceptCalls;
  return Platform::AcceptClient(listener, error);
}

TEST(AcceptConnection, PassingAcceptFailuresAreRetriedOthersReturnNull) {
  nettest::RecordedErrors errors;
  const struct {
    std::vector<int> failures;
    bool accepted;
    int calls;
  } cases[] = {
      {{kResetBeforeAccept, kNoDescriptors, kResetBeforeAccept}, true, 4},
      {{kResetBeforeAccept, kNotASocket}, false, 2},
  };
  for (const auto& c : cases) {
    g_acceptErrors = c.failures;
    g_acceptCalls = 0;
    const std::uint16_t port = nettest::FreePort();
    Network::Connection* accepted = nullptr;
    Network::AcceptFailure failure;
    std::thread server(
        [&] { accepted = Network::AcceptConnection(port, &failure, &ScriptedAccept); });
    const Platform::SocketHandle client = nettest::ConnectLoopback(port);
    server.join();
    EXPECT_EQ(accepted != nullptr, c.accepted);
    EXPECT_EQ(g_acceptCalls, c.calls);
    if (!c.accepted) {
      EXPECT_EQ(failure.step, Network::AcceptStep::Accept);
      EXPECT_EQ(failure.error, kNotASocket);
    }
    delete accepted;
    Platform::CloseSocket(client);
  }
  EXPECT_EQ(errors.Count(), 0);
}

}  // namespace
