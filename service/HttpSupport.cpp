#include "service/HttpSupport.h"

#include <cmath>

namespace vantorel::lab {

void SendJson(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  "application/json; charset=utf-8");
}

void SendError(httplib::Response& res, const ApiError& error) {
  nlohmann::json body = {{"error", error.code}, {"message", error.message}};
  if (error.result) body["result"] = *error.result;
  if (error.status == 401) res.set_header("WWW-Authenticate", "Bearer realm=\"vantorel-lab\"");
  SendJson(res, error.status, body);
}

ApiError ErrorForStatus(int status) {
  switch (status) {
    case 400:
      return BadRequest("the request could not be read");
    case 404:
      return NotFound("no such path; GET /api/openapi.json lists the API");
    case 405:
      return {405, "method_not_allowed", "this path does not take that method", {}};
    case 413:
      return {413, "too_large", "the request body is larger than 1 MiB", {}};
    case 414:
      return {414, "too_large", "the request path is too long", {}};
    default:
      return {status,
              status >= 500 ? "internal_error" : "bad_request",
              "the request failed (HTTP " + std::to_string(status) + ")",
              {}};
  }
}

std::optional<ApiError> ReadObject(const httplib::Request& req, nlohmann::json& body) {
  if (req.body.empty()) {
    body = nlohmann::json::object();
    return std::nullopt;
  }
  const std::string type = req.get_header_value("Content-Type");
  if (type.rfind("application/json", 0) != 0) {
    return ApiError{415,
                    "unsupported_media_type",
                    "send the body as JSON with Content-Type: application/json",
                    {}};
  }
  body = nlohmann::json::parse(req.body, nullptr, false);
  if (body.is_discarded()) return BadRequest("the body is not valid JSON");
  if (!body.is_object()) return BadRequest("the body must be a JSON object");
  return std::nullopt;
}

std::optional<ApiError> Text(const nlohmann::json& body, const char* field, std::string& out,
                             bool required) {
  const auto it = body.find(field);
  if (it == body.end() || it->is_null()) {
    if (required) return BadRequest(std::string("\"") + field + "\" is missing");
    return std::nullopt;
  }
  if (!it->is_string()) return BadRequest(std::string("\"") + field + "\" must be a string");
  out = it->get<std::string>();
  return std::nullopt;
}

std::optional<ApiError> Integer(const nlohmann::json& body, const char* field, std::int64_t& out,
                                std::int64_t min, std::int64_t max, bool required) {
  const auto it = body.find(field);
  if (it == body.end() || it->is_null()) {
    if (required) return BadRequest(std::string("\"") + field + "\" is missing");
    return std::nullopt;
  }
  const std::string range = std::to_string(min) + " to " + std::to_string(max);
  if (!it->is_number_integer()) {
    return BadRequest(std::string("\"") + field + "\" must be a whole number from " + range);
  }
  const bool negative = it->is_number_unsigned() ? false : it->get<std::int64_t>() < 0;
  if (!negative && it->is_number_unsigned() &&
      it->get<std::uint64_t>() > static_cast<std::uint64_t>(max)) {
    return BadRequest(std::string("\"") + field + "\" must be from " + range);
  }
  const std::int64_t value = it->get<std::int64_t>();
  if (value < min || value > max) {
    return BadRequest(std::string("\"") + field + "\" is " + std::to_string(value) +
                      "; it must be from " + range);
  }
  out = value;
  return std::nullopt;
}

std::optional<ApiError> Number(const nlohmann::json& body, const char* field,
                               std::optional<double>& out, double min, double max) {
  const auto it = body.find(field);
  if (it == body.end() || it->is_null()) return std::nullopt;
  if (!it->is_number()) return BadRequest(std::string("\"") + field + "\" must be a number");
  const double value = it->get<double>();
  if (!std::isfinite(value) || value < min || value > max) {
    char text[96];
    std::snprintf(text, sizeof text, "\"%s\" must be from %g to %g", field, min, max);
    return BadRequest(text);
  }
  out = value;
  return std::nullopt;
}

std::optional<ApiError> Flag(const nlohmann::json& body, const char* field, bool& out) {
  const auto it = body.find(field);
  if (it == body.end() || it->is_null()) return std::nullopt;
  if (!it->is_boolean()) return BadRequest(std::string("\"") + field + "\" must be true or false");
  out = it->get<bool>();
  return std::nullopt;
}

std::optional<ApiError> OnlyFields(const nlohmann::json& body,
                                   std::initializer_list<const char*> known) {
  for (const auto& [key, value] : body.items()) {
    bool found = false;
    for (const char* name : known) found |= key == name;
    if (!found) {
      std::string list;
      for (const char* name : known) {
        if (!list.empty()) list += ", ";
        list += name;
      }
      return BadRequest("unknown field \"" + key + "\" (this request takes " + list + ")");
    }
  }
  return std::nullopt;
}

std::optional<std::string> PresentedToken(const httplib::Request& req) {
  const std::string authorization = req.get_header_value("Authorization");
  if (authorization.rfind("Bearer ", 0) == 0) return authorization.substr(7);
  const std::string cookies = req.get_header_value("Cookie");
  const std::string key = std::string(kSessionCookie) + "=";
  for (std::size_t at = 0; at < cookies.size();) {
    while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
    const std::size_t end = std::min(cookies.find(';', at), cookies.size());
    if (cookies.compare(at, key.size(), key) == 0) {
      return cookies.substr(at + key.size(), end - at - key.size());
    }
    at = end;
  }
  return std::nullopt;
}

std::optional<ApiError> Authorize(const httplib::Request& req, const TokenTable& tokens, Role need,
                                  Identity& who) {
  if (!tokens.Required()) {
    who = tokens.Owner();
    return std::nullopt;
  }
  const std::optional<std::string> token = PresentedToken(req);
  const std::optional<Identity> found = token ? tokens.Find(*token) : std::nullopt;
  if (!found) {
    return ApiError{401,
                    "unauthorized",
                    token ? "the token is not valid" : "send Authorization: Bearer TOKEN",
                    {}};
  }
  who = *found;
  if (static_cast<int>(who.role) < static_cast<int>(need)) {
    return ApiError{403,
                    "forbidden",
                    std::string("this needs the ") + RoleName(need) + " role; " + who.user +
                        " has " + RoleName(who.role),
                    {}};
  }
  return std::nullopt;
}

}  // namespace vantorel::lab
