// LabOptions: the command line of vantorel-lab.
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/Instrument.h"

namespace vantorel::lab {

struct LabOptions {
  std::string listenHost = "127.0.0.1";
  std::uint16_t listenPort = 8080;
  std::vector<InstrumentAddress> instruments;  // none given: local=127.0.0.1:8889
  std::string db;                              // empty: VANTOREL_DB, else the user's lab.db
  std::string tokenFile;
  std::string tlsCert;
  std::string tlsKey;
  InstrumentSettings settings;
  bool help = false;
  bool version = false;
};

// The options, or nothing with the reason in `error`.
std::optional<LabOptions> ParseLabOptions(const std::vector<std::string>& args, std::string& error);

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopback(const std::string& host);

std::string LabHelp();

}  // namespace vantorel::lab
