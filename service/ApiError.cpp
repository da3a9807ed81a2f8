#include "service/ApiError.h"

namespace vantorel::lab {
namespace {

constexpr std::int32_t kNotConnected = 99999;
constexpr std::int32_t kInvalidJob = 3007;
constexpr std::int32_t kUnknownJobs[] = {1002, 3002};

}  // namespace

ApiError FromDriver(const Status& status, const std::string& what) {
  ApiError error;
  switch (status.failure) {
    case Failure::None:
      break;
    case Failure::TimedOut:
      return {
          504, "timeout", what + ": the driver did not answer in time (" + status.text + ")", {}};
    case Failure::CannotConnect:
    case Failure::CannotResolve:
    case Failure::NotConnected:
    case Failure::SendFailed:
    case Failure::Closed:
      return {
          502, "unreachable", what + ": the driver cannot be reached (" + status.text + ")", {}};
    default:
      return {502,
              "unreachable",
              what + ": the driver's answer was unusable (" + status.text + ")",
              {}};
  }
  error.result = status.code;
  if (status.code == kNotConnected) {
    error.status = 409;
    error.code = "not_connected";
    error.message = what + ": the instrument is not connected (" + status.text +
                    "); POST /api/instruments/NAME/connect connects it";
    return error;
  }
  for (std::int32_t unknown : kUnknownJobs) {
    if (status.code == unknown) {
      error.status = 404;
      error.code = "not_found";
      error.message = what + ": the job is not stored (" + status.text + ")";
      return error;
    }
  }
  if (status.code == kInvalidJob) {
    error.status = 400;
    error.code = "bad_request";
    error.message = what + ": the instrument refused the job description (" + status.text + ")";
    return error;
  }
  error.status = 409;
  error.code = "instrument_error";
  error.message =
      what + ": the instrument answered " + std::to_string(status.code) + " (" + status.text + ")";
  return error;
}

}  // namespace vantorel::lab
