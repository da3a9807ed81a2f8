#include "messages/Messages.h"

void SerializeMsgAddJob(ByteBuffer& buffer, MsgAddJob& msg) {
  buffer.Process(msg.name).Process(msg.make).Process(msg.sampleCount);
}

void SerializeMsgAnswerGetLog(ByteBuffer& buffer, MsgAnswerGetLog& msg) {
  buffer.Process(msg.result).Process(msg.log);
}

void SerializeMsgAnswerGetMeasure(ByteBuffer& buffer, MsgAnswerGetMeasure& msg) {
  buffer.Process(msg.result);
  Process(buffer, msg.data);
}

void SerializeMsgAnswerGetSample(ByteBuffer& buffer, MsgAnswerGetSample& msg) {
  buffer.Process(msg.result);
  Process(buffer, msg.data);
}

void SerializeMsgAnswerJobInfo(ByteBuffer& buffer, MsgAnswerJobInfo& msg) {
  buffer.Process(msg.result);
  Process(buffer, msg.jobs);
}

void SerializeMsgDeleteJob(ByteBuffer& buffer, MsgDeleteJob& msg) { buffer.Process(msg.name); }

void SerializeMsgDoJob(ByteBuffer& buffer, MsgDoJob& msg) { buffer.Process(msg.name); }

void SerializeMsgGetMeasure(ByteBuffer& buffer, MsgGetMeasure& msg) { buffer.Process(msg.name); }

void SerializeMsgGetSample(ByteBuffer& buffer, MsgGetSample& msg) {
  buffer.Process(msg.name).Process(msg.sampleIndex);
}

void SerializeMsgUserMessage(ByteBuffer& buffer, MsgUserMessage& msg) { buffer.Process(msg.text); }
