// The message catalogue: the body of every request and answer of the
// driver's protocol, and the serialization function of each serialized one.
//
// Two body forms. Raw messages (MsgUsbConnect, MsgGetJobs, MsgTerminate,
// MsgNetworkConnect, MsgCancel, MsgGetLog, and the bare 4-byte result code)
// travel as the structure's own bytes, exactly sizeof of it: they are
// trivially copyable and carry no padding. Serialized messages travel as
// their fields in declaration order, each encoded by ByteBuffer.
//
// Each Serialize function writes or reads by the buffer's mode, calls
// Process on the fields in order and nothing else: it checks no values and
// adds no tag or length. Reading a body shorter than the fields throws
// ByteBufferException and leaves the message partly filled; extra bytes at
// the end of a body are left unread. Read into a value-initialised message.
//
// Threads: plain values and stateless functions.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "messages/ByteBuffer.h"
#include "messages/MeasurementRecords.h"

// ---- Raw requests -------------------------------------------------------

// Id 1. Answered by a bare result code under id 1.
struct MsgUsbConnect {
  std::uint32_t reserved;   // not interpreted
  std::uint32_t timeoutMs;  // 4294967295 waits without limit
};

// Id 2. Answered by MsgAnswerJobInfo.
struct MsgGetJobs {
  std::uint8_t reserved[3];  // not interpreted
};

// Id 3. No answer: the driver ends.
struct MsgTerminate {};

// Id 7. Answered by a bare result code under id 1.
struct MsgNetworkConnect {
  std::uint8_t address[4];  // handed unchanged to the device
  std::uint32_t timeoutMs;
};

// Id 10. Answered by a bare result code.
struct MsgCancel {};

// Id 12. Answered by MsgAnswerGetLog.
struct MsgGetLog {};

static_assert(sizeof(MsgUsbConnect) == 8);
static_assert(sizeof(MsgGetJobs) == 3);
static_assert(sizeof(MsgTerminate) == 1);
static_assert(sizeof(MsgNetworkConnect) == 8);
static_assert(sizeof(MsgCancel) == 1);
static_assert(sizeof(MsgGetLog) == 1);
static_assert(std::is_trivially_copyable_v<MsgUsbConnect> &&
              std::is_trivially_copyable_v<MsgGetJobs> &&
              std::is_trivially_copyable_v<MsgTerminate> &&
              std::is_trivially_copyable_v<MsgNetworkConnect> &&
              std::is_trivially_copyable_v<MsgCancel> && std::is_trivially_copyable_v<MsgGetLog>);

// ---- Serialized requests ------------------------------------------------

// Id 4. Body 4 + n.
struct MsgDeleteJob {
  std::string name;
};

// Id 5. Body 4 + n. Answered by MsgAnswerGetMeasure.
struct MsgGetMeasure {
  std::string name;
};

// Id 6. Body 4 + n + 4. Answered by MsgAnswerGetSample.
struct MsgGetSample {
  std::string name;
  std::int32_t sampleIndex = 0;
};

// Id 8. Body 4 + n + 4 + m + 4. name and make must be valid UTF-8 for the
// driver to accept them.
struct MsgAddJob {
  std::string name;
  std::string make;
  std::uint32_t sampleCount = 0;
};

// Id 9. Body 4 + n.
struct MsgDoJob {
  std::string name;
};

// Id 11. Body 4 + 4u (UTF-32 code units).
struct MsgUserMessage {
  std::u32string text;
};

// ---- Serialized answers -------------------------------------------------

// Id 2. result: 0, a device code, or DeviceNotConnectedCode.
struct MsgAnswerJobInfo {
  std::int32_t result = 0;
  std::vector<JobAdvancedInfo> jobs;
};

// Id 5. Both maps are empty when result is not 0.
struct MsgAnswerGetMeasure {
  std::int32_t result = 0;
  VantorelMeasurementsFull data;
};

// Id 6. Both maps are empty when result is not 0.
struct MsgAnswerGetSample {
  std::int32_t result = 0;
  VantorelMeasurementsFull data;
};

// Id 12. log holds the device log followed by one zero byte, which its
// length counts: an empty log travels as length 1 and a zero byte.
struct MsgAnswerGetLog {
  std::uint32_t result = 0;
  std::string log;
};

// ---- Serialization functions --------------------------------------------

void SerializeMsgAddJob(ByteBuffer& buffer, MsgAddJob& msg);
void SerializeMsgAnswerGetLog(ByteBuffer& buffer, MsgAnswerGetLog& msg);
void SerializeMsgAnswerGetMeasure(ByteBuffer& buffer, MsgAnswerGetMeasure& msg);
void SerializeMsgAnswerGetSample(ByteBuffer& buffer, MsgAnswerGetSample& msg);
void SerializeMsgAnswerJobInfo(ByteBuffer& buffer, MsgAnswerJobInfo& msg);
void SerializeMsgDeleteJob(ByteBuffer& buffer, MsgDeleteJob& msg);
void SerializeMsgDoJob(ByteBuffer& buffer, MsgDoJob& msg);
void SerializeMsgGetMeasure(ByteBuffer& buffer, MsgGetMeasure& msg);
void SerializeMsgGetSample(ByteBuffer& buffer, MsgGetSample& msg);
void SerializeMsgUserMessage(ByteBuffer& buffer, MsgUserMessage& msg);

// The same functions as Process overloads, so that generic code (vectors of
// messages, ProcessValue) can name every serialized message one way.
inline ByteBuffer& Process(ByteBuffer& b, MsgAddJob& m) {
  SerializeMsgAddJob(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgAnswerGetLog& m) {
  SerializeMsgAnswerGetLog(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgAnswerGetMeasure& m) {
  SerializeMsgAnswerGetMeasure(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgAnswerGetSample& m) {
  SerializeMsgAnswerGetSample(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgAnswerJobInfo& m) {
  SerializeMsgAnswerJobInfo(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgDeleteJob& m) {
  SerializeMsgDeleteJob(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgDoJob& m) {
  SerializeMsgDoJob(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgGetMeasure& m) {
  SerializeMsgGetMeasure(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgGetSample& m) {
  SerializeMsgGetSample(b, m);
  return b;
}
inline ByteBuffer& Process(ByteBuffer& b, MsgUserMessage& m) {
  SerializeMsgUserMessage(b, m);
  return b;
}
