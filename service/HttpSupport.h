// HttpSupport: what every route shares: JSON answers and errors, request
// bodies read as JSON objects with typed fields, and who is asking (a
// bearer token or the browser's session cookie, checked against the role
// the route needs).
//
// Threads: pure functions over one request; the TokenTable is read-only.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "service/ApiError.h"
#include "service/Tokens.h"

namespace vantorel::lab {

// Largest request body taken (a job, a standard, a comparison: a few
// hundred bytes).
inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
inline constexpr const char* kSessionCookie = "vantorel_session";

void SendJson(httplib::Response& res, int status, const nlohmann::json& body);
void SendError(httplib::Response& res, const ApiError& error);
// The error body a status without one gets (unknown paths, limits).
ApiError ErrorForStatus(int status);

// The body as a JSON object (an empty body is an empty object). Refuses a
// body that is not application/json, not JSON, or not an object.
std::optional<ApiError> ReadObject(const httplib::Request& req, nlohmann::json& body);

// Typed fields of a body: absent gives the fallback (nothing for
// Required*); present with another type is an error naming the field.
std::optional<ApiError> Text(const nlohmann::json& body, const char* field, std::string& out,
                             bool required);
std::optional<ApiError> Integer(const nlohmann::json& body, const char* field, std::int64_t& out,
                                std::int64_t min, std::int64_t max, bool required);
std::optional<ApiError> Number(const nlohmann::json& body, const char* field,
                               std::optional<double>& out, double min, double max);
std::optional<ApiError> Flag(const nlohmann::json& body, const char* field, bool& out);
// Fields that are not in `known` are refused (a typo would silently do
// something else).
std::optional<ApiError> OnlyFields(const nlohmann::json& body,
                                   std::initializer_list<const char*> known);

// The token a request presents: "Authorization: Bearer T", else the
// session cookie.
std::optional<std::string> PresentedToken(const httplib::Request& req);
// Who asks, when allowed `need`: 401 without a valid token, 403 beyond
// the token's role.
std::optional<ApiError> Authorize(const httplib::Request& req, const TokenTable& tokens, Role need,
                                  Identity& who);

}  // namespace vantorel::lab
