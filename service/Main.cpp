// vantorel-lab: the lab service's process. Reads the command line and the
// token file, opens the records database (bringing its schema up to date),
// starts one worker per instrument and serves HTTP (or HTTPS) until SIGINT
// or SIGTERM.
#include <httplib.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "Version.h"
#include "service/LabOptions.h"
#include "service/LabServer.h"

namespace {

using namespace vantorel;
using namespace vantorel::lab;

constexpr int kExitCannotStart = 1;
constexpr int kExitUsage = 2;
// Request handlers at once: each event stream holds one while it is open.
constexpr std::size_t kHandlerThreads = 128;

int Fail(int code, const std::string& message) {
  std::cerr << "vantorel-lab: " << message << '\n';
  return code;
}

std::string ProcessUser() {
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr) {
    return entry->pw_name;
  }
  if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') return user;
  return "uid " + std::to_string(getuid());
}

bool LoadTokens(const std::string& path, TokenTable& tokens, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read the token file " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!TokenTable::Parse(text.str(), tokens, error)) {
    error = "the token file " + path + ", " + error;
    return false;
  }
  return true;
}

void Configure(httplib::Server& server) {
  server.new_task_queue = [] { return new httplib::ThreadPool(kHandlerThreads); };
  server.set_payload_max_length(kMaxBodyBytes);
  server.set_read_timeout(10, 0);
  server.set_write_timeout(10, 0);
  server.set_keep_alive_max_count(1000);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const std::optional<LabOptions> options = ParseLabOptions(args, error);
  if (!options) return Fail(kExitUsage, error + "\n" + "vantorel-lab --help lists the options");
  if (options->help) {
    std::cout << LabHelp();
    return 0;
  }
  if (options->version) {
    std::cout << "vantorel-lab " << VANTOREL_VERSION << '\n';
    return 0;
  }
  TokenTable tokens = TokenTable::Open(ProcessUser());
  if (!options->tokenFile.empty() && !LoadTokens(options->tokenFile, tokens, error)) {
    return Fail(kExitUsage, error);
  }
  if (!tokens.Required() && !IsLoopback(options->listenHost)) {
    return Fail(kExitUsage, "refusing to listen on " + options->listenHost +
                                " without --token-file: anyone who reaches it could drive the "
                                "instruments. Listen on 127.0.0.1, or give --token-file");
  }
  const records::Environment environment =
      [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
  std::string dbValue = options->db;
  if (dbValue.empty()) dbValue = environment("VANTOREL_DB").value_or("");
  const std::optional<records::StoreLocation> location =
      records::ParseStoreLocation(dbValue, environment, error);
  if (!location) return Fail(kExitUsage, "--db: " + error);

  // Every signal that stops the service goes to the thread that stops it.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  LabContext lab(std::move(tokens), *location);
  {
    std::string problem;
    if (!lab.stores.Borrow(problem)) return Fail(kExitCannotStart, problem);
  }
  std::unique_ptr<httplib::Server> server;
  if (!options->tlsCert.empty()) {
    auto secure =
        std::make_unique<httplib::SSLServer>(options->tlsCert.c_str(), options->tlsKey.c_str());
    if (!secure->is_valid()) {
      return Fail(kExitCannotStart, "cannot use the certificate " + options->tlsCert +
                                        " with the key " + options->tlsKey +
                                        " (both PEM files, readable, and of one pair)");
    }
    server = std::move(secure);
    lab.tls = true;
  } else {
    server = std::make_unique<httplib::Server>();
  }
  Configure(*server);
  AddRoutes(*server, lab);

  int port = options->listenPort;
  const bool bound = port == 0 ? (port = server->bind_to_any_port(options->listenHost)) > 0
                               : server->bind_to_port(options->listenHost, port);
  if (!bound) {
    return Fail(kExitCannotStart, "cannot listen on " + options->listenHost + ":" +
                                      std::to_string(options->listenPort) +
                                      " (in use, or not an address of this machine)");
  }
  for (const InstrumentAddress& address : options->instruments) {
    lab.instruments.push_back(
        std::make_unique<Instrument>(address, options->settings, lab.events, lab.stores));
  }
  const std::string host = options->listenHost.find(':') != std::string::npos
                               ? "[" + options->listenHost + "]"
                               : options->listenHost;
  std::cout << "vantorel-lab listening on " << (lab.tls ? "https" : "http") << "://" << host << ":"
            << port << "/ (records: " << location->display << ")" << std::endl;

  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    lab.events.Close();
    server->stop();
  });
  server->listen_after_bind();
  lab.events.Close();
  // The stopper waits for a signal; when listening ended for another
  // reason, send one (blocked everywhere, it waits for the stopper's sigwait).
  kill(getpid(), SIGTERM);
  stopper.join();
  lab.instruments.clear();
  std::cout << "vantorel-lab stopped" << std::endl;
  return 0;
}
