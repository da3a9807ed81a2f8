// Whatever a client makes the driver allocate, a failure ends that client
// only: the process, the device session and the stored jobs stay.
#include <gtest/gtest.h>

#include <string>

#include "DriverTestSupport.h"
#include "messages/MessageHeader.h"
#include "messages/Protocol.h"
#include "network/ErrorReporting.h"
#include "unit/network/NetworkTestSupport.h"

namespace {

// Installs the driver's error handler (whose fatal path would end this test
// program) and allocation hooks that refuse blocks above `limit`.
class DriverOutOfMemory {
 public:
  explicit DriverOutOfMemory(std::size_t limit) {
    Network::SetErrorHandler(&DriverErrorHandler);
    hooks.FailAbove(limit);
  }
  ~DriverOutOfMemory() {
    hooks.FailAbove(0);
    Network::SetErrorHandler(nullptr);
  }

 private:
  nettest::CountingHooks hooks;
};

constexpr std::size_t kMiB = 1u << 20;

TEST(ServingFaults, RequestsThatNeedMoreMemoryThanThereIsDropOnlyTheClient) {
  struct Case {
    std::string what;
    std::vector<std::uint8_t> bytes;
    std::string line;  // the one line on standard error
  };
  std::vector<Case> cases;
  // About 4 GiB announced under each request id: the body buffer is refused.
  for (std::uint64_t id = 1; id <= 12; ++id) {
    cases.push_back({"4 GiB body, id " + std::to_string(id), Protocol::BuildHeader(0xFFFFFFF0u, id),
                     "Error: Can't accept message with type '" + std::to_string(id) +
                         "'. Memory allocation failed. Message will be skipped\n"});
  }
  // A 10 MiB make whose UTF-32 form (40 MiB) is refused.
  ByteBuffer addJob(128, true);
  MsgAddJob hugeMake{"J1", std::string(10 * kMiB, 'a'), 1};
  SerializeMsgAddJob(addJob, hugeMake);
  std::vector<std::uint8_t> body(addJob.Data(), addJob.Data() + addJob.Size());
  cases.push_back({"make of 10 MiB", Protocol::BuildFrame(Protocol::kAddJob, body),
                   "Error: out of memory while serving a request (41943044 bytes could not be "
                   "allocated); client dropped\n"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DriverHarness h;
    h.driver.deviceConnected = true;
    h.connection->AddBytes(c.bytes);
    h.connection->SetHangAtEnd(true);
    testing::internal::CaptureStderr();
    bool served = true;
    {
      const DriverOutOfMemory refuse(36 * kMiB);  // the 32 MiB receive buffer still fits
      served = h.driver.Serve();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
    EXPECT_FALSE(served);
    EXPECT_TRUE(h.driver.deviceConnected);
    EXPECT_TRUE(h.connection->SendCalls().empty());
    EXPECT_TRUE(h.device.CallNames().empty());
  }
}

}  // namespace
