// LabServer: the service's state and its routes. Everything a request
// needs is here: the instruments (each with its own worker), the record
// store, the event hub and the tokens; nothing else is kept between
// requests, so services that share one database agree.
//
// Threads: the routes run on the HTTP library's worker threads, many at
// once; every member they use is safe for that.
#pragma once

#include <httplib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/EventHub.h"
#include "service/HttpSupport.h"
#include "service/Instrument.h"
#include "service/StorePool.h"
#include "service/Tokens.h"

namespace vantorel::lab {

struct LabContext {
  LabContext(TokenTable tokenTable, records::StoreLocation location)
      : tokens(std::move(tokenTable)), stores(std::move(location)) {}

  TokenTable tokens;
  mutable StorePool stores;  // safe for many threads
  mutable EventHub events;   // safe for many threads
  std::vector<std::unique_ptr<Instrument>> instruments;
  bool tls = false;

  Instrument* Find(const std::string& name) const;
};

using Handler =
    std::function<void(const httplib::Request&, httplib::Response&, const Identity& who)>;

// A route handler that first checks the caller against `need`.
httplib::Server::Handler Guarded(const LabContext& lab, Role need, Handler handler);

// Runs `work` on the instrument's worker; answers 409 busy when its turn
// did not come in time (and returns false).
bool ServeOn(Instrument& instrument, httplib::Response& res, const Instrument::Work& work);

// The instrument a path names, or 404 answered (null).
Instrument* InstrumentOr404(const LabContext& lab, const std::string& name, httplib::Response& res);

void AddInstrumentRoutes(httplib::Server& server, LabContext& lab);
void AddRecordRoutes(httplib::Server& server, LabContext& lab);
// Everything: the API, the event stream, the session, the browser view's
// files, and the errors and log lines of every request.
void AddRoutes(httplib::Server& server, LabContext& lab);

}  // namespace vantorel::lab
