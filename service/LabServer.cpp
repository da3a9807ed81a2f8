#include "service/LabServer.h"

#include <cstdio>

#include "platform/Time.h"
#include "service/WebAssets.h"

namespace vantorel::lab {
namespace {

// A comment line on every event stream this often, so that proxies and
// browsers keep it open and a closed one is noticed.
constexpr unsigned kPingMs = 15000;
// Session cookies last a working day.
constexpr int kSessionSeconds = 12 * 3600;

std::string SessionCookie(const LabContext& lab, const std::string& value, int maxAge) {
  return std::string(kSessionCookie) + "=" + value +
         "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" + std::to_string(maxAge) +
         (lab.tls ? "; Secure" : "");
}

void AddSessionRoutes(httplib::Server& server, LabContext& lab) {
  server.Post("/api/session", [&lab](const httplib::Request& req, httplib::Response& res) {
    nlohmann::json body;
    std::optional<ApiError> error = ReadObject(req, body);
    std::string token;
    if (!error) error = OnlyFields(body, {"token"});
    if (!error) error = Text(body, "token", token, lab.tokens.Required());
    if (error) return SendError(res, *error);
    const std::optional<Identity> who = lab.tokens.Find(token);
    if (!who) return SendError(res, {401, "unauthorized", "the token is not valid", {}});
    if (lab.tokens.Required())
      res.set_header("Set-Cookie", SessionCookie(lab, token, kSessionSeconds));
    SendJson(res, 200, {{"user", who->user}, {"role", RoleName(who->role)}});
  });
  server.Get(
      "/api/session",
      Guarded(lab, Role::kViewer, [&lab](const auto&, auto& res, const Identity& who) {
        SendJson(
            res, 200,
            {{"user", who.user}, {"role", RoleName(who.role)}, {"auth", lab.tokens.Required()}});
      }));
  server.Delete("/api/session", [&lab](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", SessionCookie(lab, "", 0));
    SendJson(res, 200, {{"signedOut", true}});
  });
}

void AddEventRoute(httplib::Server& server, LabContext& lab) {
  server.Get("/api/events",
             Guarded(lab, Role::kViewer, [&lab](const auto&, auto& res, const auto&) {
               std::shared_ptr<EventHub::Stream> stream = lab.events.Subscribe();
               res.set_header("Cache-Control", "no-store");
               res.set_header("X-Accel-Buffering", "no");
               // The first bytes at once: the client knows the stream is open and
               // misses no event published after this answer began.
               auto opened = std::make_shared<bool>(false);
               res.set_chunked_content_provider(
                   "text/event-stream",
                   [stream, opened](std::size_t, httplib::DataSink& sink) {
                     std::string text;
                     if (!*opened) {
                       *opened = true;
                       text = ": open\nretry: 2000\n\n";
                     } else {
                       text = stream->Next(kPingMs);
                       if (stream->Closed()) return false;
                       if (text.empty()) text = ": ping\n\n";
                     }
                     return sink.is_writable() && sink.write(text.data(), text.size());
                   },
                   [&lab, stream](bool) { lab.events.Unsubscribe(stream); });
             }));
}

void AddFileRoutes(httplib::Server& server) {
  server.Get("/api/openapi.json", [](const httplib::Request&, httplib::Response& res) {
    const std::string_view document = OpenApiDocument();
    res.set_content(document.data(), document.size(), "application/json; charset=utf-8");
  });
  server.Get(R"(/([A-Za-z0-9_.-]*))", [](const httplib::Request& req, httplib::Response& res) {
    const WebAsset* asset = FindWebAsset(req.path);
    if (asset == nullptr) return SendError(res, ErrorForStatus(404));
    res.set_header("Cache-Control", "no-cache");
    res.set_content(asset->bytes.data(), asset->bytes.size(), std::string(asset->type));
  });
}

}  // namespace

Instrument* LabContext::Find(const std::string& name) const {
  for (const auto& instrument : instruments) {
    if (instrument->Address().name == name) return instrument.get();
  }
  return nullptr;
}

httplib::Server::Handler Guarded(const LabContext& lab, Role need, Handler handler) {
  return [&lab, need, handler = std::move(handler)](const httplib::Request& req,
                                                    httplib::Response& res) {
    Identity who;
    if (const std::optional<ApiError> error = Authorize(req, lab.tokens, need, who)) {
      return SendError(res, *error);
    }
    res.set_header("X-Vantorel-User", who.user);
    handler(req, res, who);
  };
}

bool ServeOn(Instrument& instrument, httplib::Response& res, const Instrument::Work& work) {
  if (instrument.Serve(work)) return true;
  SendError(res, Conflict("busy", "instrument " + instrument.Address().name +
                                      " is busy with other users' requests; try again shortly"));
  return false;
}

Instrument* InstrumentOr404(const LabContext& lab, const std::string& name,
                            httplib::Response& res) {
  Instrument* instrument = lab.Find(name);
  if (instrument == nullptr) {
    SendError(res, NotFound("no instrument named '" + name + "'; GET /api/instruments lists them"));
  }
  return instrument;
}

void AddRoutes(httplib::Server& server, LabContext& lab) {
  AddSessionRoutes(server, lab);
  AddEventRoute(server, lab);
  AddInstrumentRoutes(server, lab);
  AddRecordRoutes(server, lab);
  AddFileRoutes(server);
  // Every method on any other path, and the errors the library answers
  // itself (too large, unreadable), as JSON.
  const auto unknown = [](const httplib::Request&, httplib::Response& res) {
    SendError(res, ErrorForStatus(404));
  };
  server.Post(".*", unknown);
  server.Put(".*", unknown);
  server.Delete(".*", unknown);
  server.Patch(".*", unknown);
  server.Get(".*", unknown);
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) SendError(res, ErrorForStatus(res.status));
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, const std::exception_ptr&) {
        SendError(res, {500, "internal_error", "the request failed inside the service", {}});
      });
  // One line per request: method, path, status and user, never a header
  // or a body (the token travels in those).
  server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    const std::string user = res.get_header_value("X-Vantorel-User");
    std::fprintf(stderr, "%s %s %d %s\n", req.method.c_str(), req.path.c_str(), res.status,
                 user.empty() ? "-" : user.c_str());
  });
}

}  // namespace vantorel::lab
