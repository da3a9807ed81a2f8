#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "messages/Protocol.h"

namespace {

const std::vector<std::uint8_t> kThreeBytes = {0, 0, 0};
const std::vector<std::uint8_t> kOneByte = {0};

MsgAddJob AddJobMsg(std::string name, std::string make, std::uint32_t count) {
  MsgAddJob msg;
  msg.name = std::move(name);
  msg.make = std::move(make);
  msg.sampleCount = count;
  return msg;
}

TEST(JobRequests, WithoutSessionOnlyDoJobAndCancelReachTheDevice) {
  DriverHarness h;
  h.AddRaw(Protocol::kGetJobs, kThreeBytes);
  h.AddSerialized(Protocol::kAddJob, AddJobMsg("J1", "red", 2), &SerializeMsgAddJob);
  h.AddSerialized(Protocol::kDeleteJob, MsgDeleteJob{"J1"}, &SerializeMsgDeleteJob);
  h.device.doJobResult = 3001;
  h.device.cancelResult = 3001;
  h.AddSerialized(Protocol::kDoJob, MsgDoJob{"J1"}, &SerializeMsgDoJob);
  h.AddRaw(Protocol::kCancel, kOneByte);
  const auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 5u);

  const auto jobs = DriverHarness::Decode(frames[0], &SerializeMsgAnswerJobInfo);
  EXPECT_EQ(frames[0].type, 2u);
  EXPECT_EQ(jobs.result, DeviceNotConnectedCode);
  EXPECT_TRUE(jobs.jobs.empty());
  EXPECT_EQ(frames[1].type, 8u);
  EXPECT_EQ(DriverHarness::Code(frames[1]), DeviceNotConnectedCode);
  EXPECT_EQ(frames[2].type, 4u);
  EXPECT_EQ(DriverHarness::Code(frames[2]), DeviceNotConnectedCode);
  EXPECT_EQ(frames[3].type, 9u);
  EXPECT_EQ(DriverHarness::Code(frames[3]), 3001);
  EXPECT_EQ(frames[4].type, 10u);
  EXPECT_EQ(DriverHarness::Code(frames[4]), 3001);
  EXPECT_EQ(h.device.CallNames(), (std::vector<std::string>{"DoJob", "Cancel"}));
}

TEST(JobRequests, JobListMapsDeviceStatesAndKeepsTheDeviceOrder) {
  DriverHarness h;
  h.driver.deviceConnected = true;
  h.device.jobs = {{"A", 3, 2000}, {"B", 1, 2001}, {"C", 7, 2004}, {"D", 0, 7}};
  h.AddRaw(Protocol::kGetJobs, kThreeBytes);
  const auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  const auto answer = DriverHarness::Decode(frames[0], &SerializeMsgAnswerJobInfo);
  EXPECT_EQ(answer.result, 0);
  ASSERT_EQ(answer.jobs.size(), 4u);
  const std::uint32_t states[] = {1, 0, 2, 0};
  const char* names[] = {"A", "B", "C", "D"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(answer.jobs[i].name, names[i]);
    EXPECT_EQ(answer.jobs[i].state, states[i]);
    EXPECT_TRUE(answer.jobs[i].valid);
  }
  EXPECT_EQ(answer.jobs[2].sampleCount, 7);
}

TEST(JobRequests, AddJobReplacesByDeletingFirstAndBuildsTheDescription) {
  DriverHarness h;
  h.driver.deviceConnected = true;
  h.device.addJobResult = 55;
  h.device.deleteJobResult = 66;  // not examined
  h.AddSerialized(Protocol::kAddJob, AddJobMsg("Jöb", "Rot", 4), &SerializeMsgAddJob);
  const auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), 55);
  EXPECT_EQ(h.device.CallNames(), (std::vector<std::string>{"DeleteJob", "AddJob"}));

  auto desc = h.device.LastJobDescription();
  EXPECT_EQ(desc.identifier().Text(), "Jöb");
  EXPECT_EQ(desc.sampleCount(), 4);
  EXPECT_EQ(desc.plannedSampleCount(), 4);
  EXPECT_EQ(desc.version(), 0);
  EXPECT_EQ(desc.comment().Text(), "");
  EXPECT_EQ(desc.referenceName().Text(), "NONE");
  ASSERT_EQ(desc.tags().size(), 2u);
  EXPECT_EQ(desc.tags().at(0).name().Text(), "Make");
  EXPECT_EQ(desc.tags().at(0).value().Text(), "");
  EXPECT_EQ(desc.tags().at(1).name().Text(), "MakeId");
  ASSERT_EQ(desc.displayTags().size(), 2u);
  EXPECT_EQ(desc.displayTags().at(0).name().Text(), "DisplayName");
  EXPECT_EQ(desc.displayTags().at(0).value().Text(), U"Jöb");
  EXPECT_EQ(desc.displayTags().at(1).name().Text(), "DisplayMake");
  EXPECT_EQ(desc.displayTags().at(1).value().Text(), U"Rot");
}

TEST(JobRequests, AddJobRefusesInvalidUtf8WithoutTouchingTheDevice) {
  DriverHarness h;
  h.driver.deviceConnected = true;
  const std::string bad[] = {
      std::string("\xC3"),              // truncated sequence
      std::string("\xC0\xAF"),          // overlong '/'
      std::string("\xED\xA0\x80"),      // surrogate
      std::string("\xF4\x90\x80\x80"),  // above U+10FFFF
  };
  for (const std::string& text : bad) {
    h.AddSerialized(Protocol::kAddJob, AddJobMsg(text, "ok", 1), &SerializeMsgAddJob);
    h.AddSerialized(Protocol::kAddJob, AddJobMsg("ok", text, 1), &SerializeMsgAddJob);
  }
  const auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 8u);
  for (const Frame& f : frames) EXPECT_EQ(DriverHarness::Code(f), InvalidTextCode);
  EXPECT_TRUE(h.device.CallNames().empty());
}

TEST(JobRequests, DeleteAnswersZeroWhateverTheDeviceSaysAndDoJobPassesCodes) {
  DriverHarness h;
  h.driver.deviceConnected = true;
  h.device.deleteJobResult = 3002;
  h.device.doJobResult = 3005;
  h.AddSerialized(Protocol::kDeleteJob, MsgDeleteJob{"nope"}, &SerializeMsgDeleteJob);
  h.AddSerialized(Protocol::kDoJob, MsgDoJob{"J1"}, &SerializeMsgDoJob);
  const auto frames = h.Serve();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(DriverHarness::Code(frames[0]), 0);
  EXPECT_EQ(DriverHarness::Code(frames[1]), 3005);
  EXPECT_EQ(h.device.Calls()[1].args[0], "J1");
}

}  // namespace
