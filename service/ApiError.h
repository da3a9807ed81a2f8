// ApiError: a failed API request as the service answers it: an HTTP status,
// a short code ("bad_request", "measuring", ...), one sentence for people,
// and the driver's result code where the driver gave one. Answered as
// {"error": CODE, "message": TEXT, "result": N}.
//
// Threads: plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "client/Client.h"

namespace vantorel::lab {

struct ApiError {
  int status = 500;
  std::string code;
  std::string message;
  std::optional<std::int32_t> result;
};

inline ApiError BadRequest(std::string message) {
  return {400, "bad_request", std::move(message), {}};
}
inline ApiError NotFound(std::string message) { return {404, "not_found", std::move(message), {}}; }
inline ApiError Conflict(std::string code, std::string message) {
  return {409, std::move(code), std::move(message), {}};
}
inline ApiError StoreError(std::string message) {
  return {500, "store_error", std::move(message), {}};
}

// What a failed driver call means for the API: unreachable (502), no answer
// in time (504), the instrument session not connected (409, result 99999),
// an unknown job (404), a refused job description (400), any other result
// code (409 instrument_error).
ApiError FromDriver(const Status& status, const std::string& what);

}  // namespace vantorel::lab
