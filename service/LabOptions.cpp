#include "service/LabOptions.h"

#include "client/RequestChecks.h"

namespace vantorel::lab {
namespace {

std::optional<std::uint64_t> Whole(const std::string& text, std::uint64_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// "HOST:PORT", "[V6]:PORT", or HOST alone with `defaultPort`.
bool SplitHostPort(const std::string& text, std::string& host, std::uint16_t& port,
                   std::optional<std::uint16_t> defaultPort) {
  std::string portText;
  if (text.starts_with("[")) {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      portText = text.substr(close + 2);
    }
  } else {
    const std::size_t colon = text.rfind(':');
    host = text.substr(0, colon);
    if (colon != std::string::npos) portText = text.substr(colon + 1);
  }
  if (host.empty()) return false;
  if (portText.empty()) {
    if (!defaultPort) return false;
    port = *defaultPort;
    return true;
  }
  const std::optional<std::uint64_t> value = Whole(portText, 65535);
  if (!value) return false;
  port = static_cast<std::uint16_t>(*value);
  return true;
}

}  // namespace

bool IsLoopback(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  const std::optional<std::array<std::uint8_t, 4>> ip = ParseIpv4(host);
  return ip && (*ip)[0] == 127;
}

std::optional<LabOptions> ParseLabOptions(const std::vector<std::string>& args,
                                          std::string& error) {
  LabOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (name == "--version") {
      options.version = true;
      continue;
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    const std::optional<std::string> given = value();
    if (!given) {
      error = name.starts_with("--") ? name + " needs a value" : "unknown argument " + name;
      return std::nullopt;
    }
    const auto millis = [&](std::uint32_t& out, std::uint64_t min) {
      const std::optional<std::uint64_t> parsed = Whole(*given, 3600000);
      if (!parsed || *parsed < min) {
        error =
            name + " " + *given + ": give milliseconds from " + std::to_string(min) + " to 3600000";
        return false;
      }
      out = static_cast<std::uint32_t>(*parsed);
      return true;
    };
    if (name == "--listen") {
      if (!SplitHostPort(*given, options.listenHost, options.listenPort, std::nullopt)) {
        error = "--listen " + *given + ": give ADDR:PORT, as in 127.0.0.1:8080";
        return std::nullopt;
      }
    } else if (name == "--instrument") {
      const std::size_t eq = given->find('=');
      InstrumentAddress address;
      if (eq == std::string::npos || eq == 0 ||
          !SplitHostPort(given->substr(eq + 1), address.host, address.port, 8889)) {
        error = "--instrument " + *given + ": give NAME=HOST[:PORT], as in local=127.0.0.1:8889";
        return std::nullopt;
      }
      address.name = given->substr(0, eq);
      if (address.name.find_first_of("/?#% ") != std::string::npos) {
        error = "--instrument " + *given + ": a name cannot hold '/', '?', '#', '%' or blanks";
        return std::nullopt;
      }
      for (const InstrumentAddress& other : options.instruments) {
        if (other.name == address.name) {
          error = "--instrument " + address.name + " is given twice";
          return std::nullopt;
        }
      }
      options.instruments.push_back(address);
    } else if (name == "--db") {
      options.db = *given;
    } else if (name == "--token-file") {
      options.tokenFile = *given;
    } else if (name == "--tls-cert") {
      options.tlsCert = *given;
    } else if (name == "--tls-key") {
      options.tlsKey = *given;
    } else if (name == "--poll-ms") {
      if (!millis(options.settings.pollMs, 10)) return std::nullopt;
    } else if (name == "--wait-ms") {
      if (!millis(options.settings.waitMs, 1)) return std::nullopt;
    } else if (name == "--connect-timeout-ms") {
      if (!millis(options.settings.connectTimeoutMs, 1)) return std::nullopt;
    } else {
      error = "unknown option " + name + " (vantorel-lab --help lists them)";
      return std::nullopt;
    }
  }
  if (options.tlsCert.empty() != options.tlsKey.empty()) {
    error = "--tls-cert and --tls-key go together";
    return std::nullopt;
  }
  if (options.instruments.empty()) options.instruments.push_back({"local", "127.0.0.1", 8889});
  return options;
}

std::string LabHelp() {
  return R"(usage: vantorel-lab [--listen ADDR:PORT] [--instrument NAME=HOST[:PORT]]...
                    [--db URL] [--token-file FILE] [--tls-cert FILE --tls-key FILE]

The lab service: one server for the lab's instruments. A JSON API (its
OpenAPI document at /api/openapi.json), live events at /api/events and a
browser view at /. It is the client of each instrument's driver and opens
a connection only while it serves a request, so vantorelctl still gets in.

options:
  --listen ADDR:PORT         where to listen (default 127.0.0.1:8080; port 0
                             takes a free one). Without --token-file only a
                             loopback address is allowed.
  --instrument NAME=HOST[:PORT]
                             a driver, as many as the lab has (default
                             local=127.0.0.1:8889). NAME is how the API and
                             the records call it; services that share a
                             database must use the same names.
  --db URL                   the records database, as vantorelctl's --db
                             (default: VANTOREL_DB, else
                             ~/.local/share/vantorel/lab.db)
  --token-file FILE          one line per token: TOKEN ROLE USER NAME, ROLE
                             viewer, operator or admin; tokens of at least
                             16 characters (openssl rand -hex 24 makes one)
  --tls-cert FILE --tls-key FILE
                             serve HTTPS with this PEM certificate and key
  --poll-ms N                how often a measuring job's state is read
                             (default 250)
  --wait-ms N                how long a request waits for its turn at an
                             instrument before it is answered 409 busy
                             (default 30000)
  --connect-timeout-ms N     how long a driver may take to accept a
                             connection before it counts as unreachable
                             (default 2000)
  --help, --version

exit codes: 0 stopped by SIGINT or SIGTERM, 1 cannot start (address in use,
database, certificate), 2 bad command line or token file.
)";
}

}  // namespace vantorel::lab
