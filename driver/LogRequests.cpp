// Requests that need no job: the instrument log, a user message, terminate.
#include <cstring>

#include "driver/DriverInvoker.h"
#include "messages/Messages.h"
#include "messages/Protocol.h"

using namespace Vexil::Device_Cpp;

void DriverInvoker::GetLog() {
  IUintVector8 LogData;
  const std::int32_t result = device->GetLog(LogData);
  MsgAnswerGetLog answerMsg;
  // The log bytes followed by one zero byte, which the text's length counts.
  const std::vector<std::uint8_t>& bytes = LogData.Items();
  answerMsg.log.assign(bytes.size() + 1, '\0');
  if (!bytes.empty()) std::memcpy(answerMsg.log.data(), bytes.data(), bytes.size());
  answerMsg.result = static_cast<std::uint32_t>(result);
  if (connection != nullptr) connection->SendMsg(Protocol::kGetLog, &answerMsg);
}

void DriverInvoker::UserMessage(const std::u32string& text) {
  IString32 ConvertedMessage(text);
  AnswerCode(Protocol::kUserMessage, device->SendUserMessage(ConvertedMessage));
}

void DriverInvoker::Terminate() {
  delete connection;
  connection = nullptr;
  exitProcess(0);
}
