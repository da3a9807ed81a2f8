#include "client/Client.h"
#include "messages/Protocol.h"

namespace vantorel {

std::string ResultText(std::int32_t code) {
  switch (code) {
    case 0:
      return "ok";
    case DeviceNotConnectedCode:
      return "no device session: connect to the instrument first";
    case JobNotFoundCode:
      return "job not found";
    case InvalidTextCode:
      return "job name or make is not valid UTF-8";
    // The virtual instrument's own codes; they never change meaning.
    case 3001:
      return "instrument not connected";
    case 3002:
      return "unknown job";
    case 3003:
      return "network address refused by the instrument";
    case 3004:
      return "sample not measured (or index out of range)";
    case 3005:
      return "instrument busy: a job is measuring";
    case 3006:
      return "image could not be decoded";
    case 3007:
      return "invalid job description";
    default:
      return "device error " + std::to_string(code);
  }
}

Status StatusFromCode(std::int32_t code) {
  Status status;
  status.code = code;
  status.text = ResultText(code);
  return status;
}

}  // namespace vantorel
