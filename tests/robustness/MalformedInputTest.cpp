// A battery of hostile frames from a seeded generator against the real
// driver: after every case that drops the client, a fresh client must be
// served normally, with the device session kept and the stored jobs
// unchanged; every case the driver serves must get its one answer.
//
// VANTOREL_ROBUSTNESS_SEED and VANTOREL_ROBUSTNESS_FRAMES override the seed
// and the number of cases (default 10000).
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "fakes/RawClient.h"
#include "integration/TestSupport.h"
#include "messages/MessageHeader.h"
#include "messages/Messages.h"
#include "messages/Protocol.h"
#include "robustness/MalformedFrames.h"

namespace robustness {
namespace {

using integration::DriverProcess;
using integration::Scaled;

constexpr std::uint16_t kPort = Protocol::kPort;

std::uint32_t EnvNumber(const char* name, std::uint32_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

std::string Hex(const Bytes& bytes, std::size_t limit = 48) {
  std::string text;
  char digits[4];
  for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(digits, sizeof digits, "%02X ", bytes[i]);
    text += digits;
  }
  if (bytes.size() > limit) text += "... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

std::string JobsText(const std::vector<JobAdvancedInfo>& jobs) {
  std::string text = "[";
  for (const JobAdvancedInfo& job : jobs) {
    text += " " + job.name + " state " + std::to_string(job.state) + " samples " +
            std::to_string(job.sampleCount) + (job.valid ? "" : " invalid");
  }
  return text + " ]";
}

template <typename Msg>
bool Decode(const Bytes& body, void (*fn)(ByteBuffer&, Msg&), Msg& msg) {
  try {
    ByteBuffer in(body.data(), body.size(), false);
    fn(in, msg);
    return in.Remaining() == 0;
  } catch (const ByteBufferException&) {
    return false;
  }
}

// Checks that `frame` is the answer `expected` asks for.
::testing::AssertionResult IsAnswer(const WireFrame& frame, const MalformedCase& expected,
                                    const std::vector<JobAdvancedInfo>& jobs) {
  if (frame.typeId != expected.answerId) {
    return ::testing::AssertionFailure()
           << "answer under id " << frame.typeId << ", expected " << expected.answerId;
  }
  std::int32_t code = 0;
  switch (expected.answerId) {
    case Protocol::kGetJobs: {
      MsgAnswerJobInfo answer;
      if (!Decode(frame.body, &SerializeMsgAnswerJobInfo, answer)) {
        return ::testing::AssertionFailure() << "job list does not decode";
      }
      if (answer.jobs != jobs) {
        return ::testing::AssertionFailure()
               << "job list changed (result " << answer.result << "): " << JobsText(answer.jobs)
               << " instead of " << JobsText(jobs);
      }
      code = answer.result;
      break;
    }
    case Protocol::kGetMeasure:
    case Protocol::kGetSample: {
      MsgAnswerGetSample answer;
      if (!Decode(frame.body, &SerializeMsgAnswerGetSample, answer)) {
        return ::testing::AssertionFailure() << "measurement answer does not decode";
      }
      if (answer.result != 0 &&
          (!answer.data.measurements.empty() || !answer.data.images.empty())) {
        return ::testing::AssertionFailure() << "failed measurement answer carries data";
      }
      code = answer.result;
      break;
    }
    case Protocol::kGetLog: {
      MsgAnswerGetLog answer;
      if (!Decode(frame.body, &SerializeMsgAnswerGetLog, answer) || answer.log.empty() ||
          answer.log.back() != '\0') {
        return ::testing::AssertionFailure() << "log answer malformed";
      }
      code = static_cast<std::int32_t>(answer.result);
      break;
    }
    default:
      if (frame.body.size() != 4) {
        return ::testing::AssertionFailure()
               << "bare result code of " << frame.body.size() << " bytes";
      }
      code = static_cast<std::int32_t>(frame.body[0] | frame.body[1] << 8 | frame.body[2] << 16 |
                                       static_cast<std::uint32_t>(frame.body[3]) << 24);
      break;
  }
  if (expected.code && code != *expected.code) {
    return ::testing::AssertionFailure() << "result " << code << ", expected " << *expected.code;
  }
  return ::testing::AssertionSuccess();
}

class MalformedInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(driver.StartAndWait(
        integration::With(integration::FastInstrument(), "VANTOREL_SIM_IMAGE_PX", "256")))
        << driver.Failure();
    vantorel::Client client;
    ASSERT_TRUE(integration::ConnectClient(client));
    // R1: measured, its sample answer about a megabyte; R2: stored only.
    ASSERT_TRUE(integration::PrepareMeasuredJob(client, "R1", "Teal", 1));
    ASSERT_TRUE(client.AddJob("R2", "Crimson", 2).Ok());
    const vantorel::JobsAnswer answer = client.GetJobs();
    ASSERT_TRUE(answer.status.Ok()) << answer.status.text;
    jobs = answer.jobs;
    ASSERT_EQ(jobs.size(), 2u);
  }

  // Connects `wire` as a fresh client and checks it is served normally: the
  // job list answers 0 (the session is kept) and lists the same jobs.
  ::testing::AssertionResult FreshClientServed(RawClient& wire, int receiveBuffer = 0) {
    if (!wire.ConnectWithin(kPort, Scaled(10000), receiveBuffer)) {
      return ::testing::AssertionFailure() << "no fresh connection";
    }
    MalformedCase getJobs;
    getJobs.drops = false;
    getJobs.answerId = Protocol::kGetJobs;
    getJobs.code = 0;
    if (!wire.Send(Protocol::BuildFrame(Protocol::kGetJobs, {0, 0, 0}))) {
      return ::testing::AssertionFailure() << "job list request not sent";
    }
    const std::optional<WireFrame> frame = wire.ReadFrame(Scaled(10000));
    if (!frame) return ::testing::AssertionFailure() << "no answer to the job list request";
    return IsAnswer(*frame, getJobs, jobs);
  }

  // Runs one case on `wire` (connected and served). Leaves `wire` closed
  // when the case dropped the client.
  ::testing::AssertionResult Run(RawClient& wire, const MalformedCase& c) {
    if (!wire.Send(c.bytes) && c.ending != Ending::Reset) {
      // A drop can overtake a long send: the driver stops reading once it has
      // decided, and the unread rest makes its close a reset.
      if (!c.drops) return ::testing::AssertionFailure() << "request not sent";
    }
    if (!c.drops) {
      const std::optional<WireFrame> frame = wire.ReadFrame(Scaled(10000));
      if (!frame) return ::testing::AssertionFailure() << "no answer";
      ++answers;
      return IsAnswer(*frame, c, jobs);
    }
    ++drops;
    switch (c.ending) {
      case Ending::Reset:
        wire.Reset();
        return ::testing::AssertionSuccess();
      case Ending::ResetWhileAnswered: {
        const Bytes header = wire.Read(16, Scaled(10000));
        wire.Reset();
        if (header.size() != 16) return ::testing::AssertionFailure() << "no answer began";
        return ::testing::AssertionSuccess();
      }
      case Ending::HalfClose:
        wire.HalfClose();
        break;
      case Ending::None:
        break;
    }
    std::size_t before = 0;
    const bool closed = wire.WaitClosed(Scaled(10000), &before);
    wire.Close();
    if (!closed) return ::testing::AssertionFailure() << "the driver kept the connection";
    if (before != 0) {
      if (!c.answersAllowed) {
        return ::testing::AssertionFailure() << before << " unexpected answer bytes";
      }
      ++answers;
    }
    return ::testing::AssertionSuccess();
  }

  DriverProcess driver;
  std::vector<JobAdvancedInfo> jobs;
  int drops = 0;
  int answers = 0;
};

TEST_F(MalformedInput, HostileFramesNeverCostAFreshClientItsService) {
  const std::uint32_t seed = EnvNumber("VANTOREL_ROBUSTNESS_SEED", 20240611);
  const std::uint32_t cases = EnvNumber("VANTOREL_ROBUSTNESS_FRAMES", 10000);
  MalformedFrameGenerator generator(seed, "R1", {"R1", "R2"});
  std::map<CaseKind, int> perKind;
  int failures = 0;
  int freshClients = 0;

  const auto start = std::chrono::steady_clock::now();
  RawClient wire;
  ASSERT_TRUE(FreshClientServed(wire));
  for (std::uint32_t i = 0; i < cases && failures < 10; ++i) {
    const MalformedCase c = generator.Next();
    ++perKind[c.kind];
    if (c.kind == CaseKind::ResetMidAnswer) {
      // A small receive window keeps the large answer from being delivered
      // at once, so that the reset meets the driver while it sends.
      wire.Close();
      ++freshClients;
      const ::testing::AssertionResult served = FreshClientServed(wire, 4096);
      if (!served) {
        ADD_FAILURE() << "case " << i << ": " << served.message();
        ++failures;
        continue;
      }
    }
    const ::testing::AssertionResult outcome = Run(wire, c);
    if (!outcome) {
      ADD_FAILURE() << "case " << i << " (" << CaseKindName(c.kind) << "): " << outcome.message()
                    << "\n  sent: " << Hex(c.bytes) << "\n"
                    << driver.Describe().substr(0, 2000);
      ++failures;
      wire.Close();
    }
    if (!wire.IsOpen()) {
      ++freshClients;
      const ::testing::AssertionResult served = FreshClientServed(wire);
      if (!served) {
        ADD_FAILURE() << "after case " << i << " (" << CaseKindName(c.kind)
                      << "): a fresh client was not served: " << served.message()
                      << "\n  sent: " << Hex(c.bytes);
        ++failures;
        wire.Close();
      }
    }
  }
  const std::int64_t elapsed = integration::ElapsedMs(start);
  wire.Close();
  EXPECT_TRUE(driver.Running()) << driver.Describe().substr(0, 4000);

  // Reset while the answer flowed: the driver's send failed and it said so.
  const std::string errors = driver.Stderr();
  int sendFailures = 0;
  for (std::size_t at = errors.find("send return error"); at != std::string::npos;
       at = errors.find("send return error", at + 1)) {
    ++sendFailures;
  }

  std::ostringstream report;
  report << "seed " << seed << ", " << cases << " cases in " << elapsed << " ms: " << drops
         << " drops, " << answers << " answers, " << freshClients
         << " fresh clients served, driver send failures " << sendFailures << "\n";
  for (const auto& [kind, count] : perKind) {
    report << "  " << CaseKindName(kind) << ": " << count << "\n";
  }
  std::printf("%s", report.str().c_str());
  RecordProperty("drops", drops);
  RecordProperty("answers", answers);
  RecordProperty("elapsed_ms", static_cast<int>(elapsed));
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace robustness
