#include "messages/Messages.h"

#include <gtest/gtest.h>

#include <cstring>

#include "WireBytes.h"
#include "messages/Protocol.h"

namespace {

TEST(MessagesTest, WorkedRequestBodies) {
  EXPECT_EQ(Write(SerializeMsgDoJob, MsgDoJob{"J1"}), MakeBytes({2, 0, 0, 0, 0x4A, 0x31}));
  EXPECT_EQ(Write(SerializeMsgGetSample, MsgGetSample{"J1", 3}),
            MakeBytes({2, 0, 0, 0, 0x4A, 0x31, 3, 0, 0, 0}));
  EXPECT_EQ(Write(SerializeMsgUserMessage, MsgUserMessage{U"hi"}),
            MakeBytes({2, 0, 0, 0, 0x68, 0, 0, 0, 0x69, 0, 0, 0}));
  EXPECT_EQ(Write(SerializeMsgAddJob, MsgAddJob{"J1", "M", 5}),
            MakeBytes({2, 0, 0, 0, 0x4A, 0x31, 1, 0, 0, 0, 0x4D, 5, 0, 0, 0}));
  EXPECT_EQ(Write(SerializeMsgDeleteJob, MsgDeleteJob{"J1"}), MakeBytes({2, 0, 0, 0, 0x4A, 0x31}));
  EXPECT_EQ(Write(SerializeMsgGetMeasure, MsgGetMeasure{"J1"}),
            MakeBytes({2, 0, 0, 0, 0x4A, 0x31}));
}

TEST(MessagesTest, WorkedAnswerBodies) {
  MsgAnswerJobInfo jobs{};
  JobAdvancedInfo job;
  job.name = "J1";
  job.state = 1;
  job.sampleCount = 5;
  job.valid = true;
  jobs.jobs.push_back(job);
  EXPECT_EQ(Write(SerializeMsgAnswerJobInfo, jobs),
            MakeBytes({0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x4A, 0x31, 1, 0, 0, 0, 5, 0, 0, 0, 1}));

  MsgAnswerGetLog log{};
  log.log = std::string("ok\0", 3);
  EXPECT_EQ(Write(SerializeMsgAnswerGetLog, log),
            MakeBytes({0, 0, 0, 0, 3, 0, 0, 0, 0x6F, 0x6B, 0x00}));

  // An answer that ends a measurement early: the result and two zero counts.
  MsgAnswerGetSample failed{};
  failed.result = DeviceNotConnectedCode;
  EXPECT_EQ(Write(SerializeMsgAnswerGetSample, failed),
            MakeBytes({0x9F, 0x86, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
  MsgAnswerGetMeasure notFound{};
  notFound.result = JobNotFoundCode;
  EXPECT_EQ(Write(SerializeMsgAnswerGetMeasure, notFound),
            MakeBytes({0xEA, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(MessagesTest, RawBodiesAreTheStructureBytes) {
  MsgUsbConnect usb{};
  usb.timeoutMs = 5000;
  Bytes bytes(sizeof usb);
  std::memcpy(bytes.data(), &usb, sizeof usb);
  EXPECT_EQ(bytes, MakeBytes({0, 0, 0, 0, 0x88, 0x13, 0, 0}));

  const Bytes net = MakeBytes({192, 168, 1, 20, 0xFF, 0xFF, 0xFF, 0xFF});
  MsgNetworkConnect connect;
  std::memcpy(&connect, net.data(), sizeof connect);
  EXPECT_EQ(connect.address[0], 192);
  EXPECT_EQ(connect.address[3], 20);
  EXPECT_EQ(connect.timeoutMs, 0xFFFFFFFFu);

  const std::int32_t code = DeviceNotConnectedCode;
  Bytes bare(4);
  std::memcpy(bare.data(), &code, 4);
  EXPECT_EQ(bare, MakeBytes({0x9F, 0x86, 0x01, 0x00}));
}

template <typename T, typename F>
T RoundTrip(F serialize, const T& value) {
  return Read<T>(serialize, Write(serialize, value));
}

TEST(MessagesTest, EverySerializedMessageRoundTrips) {
  const MsgAddJob add{"J\xC3\xA9", "make", 0xFFFFFFFFu};
  const MsgAddJob addBack = RoundTrip(SerializeMsgAddJob, add);
  EXPECT_EQ(addBack.name, add.name);
  EXPECT_EQ(addBack.make, add.make);
  EXPECT_EQ(addBack.sampleCount, add.sampleCount);

  EXPECT_EQ(RoundTrip(SerializeMsgDeleteJob, MsgDeleteJob{"del"}).name, "del");
  EXPECT_EQ(RoundTrip(SerializeMsgDoJob, MsgDoJob{""}).name, "");
  EXPECT_EQ(RoundTrip(SerializeMsgGetMeasure, MsgGetMeasure{"m"}).name, "m");
  const MsgGetSample sample = RoundTrip(SerializeMsgGetSample, MsgGetSample{"s", -7});
  EXPECT_EQ(sample.name, "s");
  EXPECT_EQ(sample.sampleIndex, -7);
  EXPECT_EQ(RoundTrip(SerializeMsgUserMessage, MsgUserMessage{U"\U0010FFFF!"}).text,
            U"\U0010FFFF!");

  MsgAnswerGetLog log{};
  log.result = 0x80000001u;
  log.log = std::string("line\n\0", 6);
  const MsgAnswerGetLog logBack = RoundTrip(SerializeMsgAnswerGetLog, log);
  EXPECT_EQ(logBack.result, log.result);
  EXPECT_EQ(logBack.log, log.log);

  MsgAnswerJobInfo jobs{};
  jobs.result = -3;
  for (int i = 0; i < 3; ++i) {
    JobAdvancedInfo job;
    job.name = "job" + std::to_string(i);
    job.state = static_cast<std::uint32_t>(i);
    job.sampleCount = 10 * i;
    job.valid = i != 1;
    jobs.jobs.push_back(job);
  }
  const MsgAnswerJobInfo jobsBack = RoundTrip(SerializeMsgAnswerJobInfo, jobs);
  EXPECT_EQ(jobsBack.result, -3);
  EXPECT_EQ(jobsBack.jobs, jobs.jobs);

  MsgAnswerGetSample answer{};
  answer.result = 0;
  VantorelMeasurements m{};
  m.index = 4;
  m.angle = R45As75;
  m.spectrum[30] = 0.5f;
  m.lab = {60.0f, -1.0f, 2.0f};
  answer.data.measurements[R45As75] = m;
  answer.data.images[R15As80].exr = {1, 2, 3};
  answer.data.images[R15As80].secondImage = {4};
  answer.data.images[R15As80].texture.values[6] = 1.25;
  EXPECT_EQ(RoundTrip(SerializeMsgAnswerGetSample, answer).data, answer.data);

  MsgAnswerGetMeasure measure{};
  measure.result = 42;
  measure.data = answer.data;
  const MsgAnswerGetMeasure measureBack = RoundTrip(SerializeMsgAnswerGetMeasure, measure);
  EXPECT_EQ(measureBack.result, 42);
  EXPECT_EQ(measureBack.data, measure.data);

  // The Process overloads are the same functions.
  EXPECT_EQ(Write(ProcessFn{}, MsgGetSample{"J1", 3}),
            Write(SerializeMsgGetSample, MsgGetSample{"J1", 3}));
}

TEST(MessagesTest, ShortAndLongBodies) {
  // Four zero bytes read as an empty name.
  EXPECT_EQ(Read<MsgDeleteJob>(SerializeMsgDeleteJob, MakeBytes({0, 0, 0, 0})).name, "");

  // A body that ends after the name: the sample index cannot be read.
  try {
    Read<MsgGetSample>(SerializeMsgGetSample, MakeBytes({2, 0, 0, 0, 0x4A, 0x31}));
    FAIL() << "a truncated MsgGetSample must throw";
  } catch (const ByteBufferException& e) {
    EXPECT_FALSE(e.writing);
    EXPECT_EQ(e.length, 4u);
    EXPECT_EQ(e.endPosition, 10u);
    EXPECT_EQ(e.bufferSize, 6u);
  }
  // A name count beyond the body throws before any name byte is read.
  EXPECT_THROW(Read<MsgDoJob>(SerializeMsgDoJob, MakeBytes({3, 0, 0, 0, 0x4A, 0x31})),
               ByteBufferException);
  // A job list cut inside its last record.
  EXPECT_THROW(Read<MsgAnswerJobInfo>(SerializeMsgAnswerJobInfo,
                                      MakeBytes({0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1})),
               ByteBufferException);

  // Extra bytes after the fields are not looked at.
  const MsgGetSample longer = Read<MsgGetSample>(
      SerializeMsgGetSample, MakeBytes({2, 0, 0, 0, 0x4A, 0x31, 3, 0, 0, 0, 0xDE, 0xAD}));
  EXPECT_EQ(longer.name, "J1");
  EXPECT_EQ(longer.sampleIndex, 3);
}

}  // namespace
