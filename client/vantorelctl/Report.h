// Report: how vantorelctl turns outcomes into output and exit codes.
//
// Every subcommand ends through Succeed or Fail, so that the exit codes and
// the JSON envelope are the same everywhere: with --json, standard output
// gets exactly one JSON object per run ({"command", "ok", ...}); without it,
// results go to standard output as text and errors to standard error as
// "error: ..." lines, each followed by a line with the next step when one is
// known ("connect first: vantorelctl connect usb").
//
// Threads: a Session belongs to the one thread that runs the command.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "client/Client.h"
#include "client/JobStates.h"
#include "nlohmann/json.hpp"

namespace vantorel::ctl {

// Exit codes of vantorelctl; documented in --help and in the README.
inline constexpr int kExitOk = 0;             // the driver answered result code 0
inline constexpr int kExitDriverCode = 1;     // the driver answered a non-zero result code
inline constexpr int kExitUsage = 2;          // bad command line
inline constexpr int kExitTransport = 3;      // cannot connect, transport or protocol failure
inline constexpr int kExitWrite = 4;          // the result or QC folder could not be written
inline constexpr int kExitQcFail = 5;         // compare: a geometry is outside its tolerance
inline constexpr int kExitStore = 6;          // the lab's database could not be opened or written
inline constexpr int kExitInterrupted = 130;  // Ctrl-C while waiting (the shell's 128 + SIGINT)

// Where a command writes, and the options every command shares.
struct Session {
  Session(std::ostream& outStream, std::ostream& errStream) : out(outStream), err(errStream) {}

  std::ostream& out;
  std::ostream& err;
  bool terminal = false;  // standard error is a terminal: progress lines allowed
  bool json = false;
  std::string command;  // e.g. "connect usb", named in the JSON envelope
  std::string host = "127.0.0.1";
  std::uint16_t port = 8889;
  std::uint32_t connectTimeoutMs = 5000;
  // Replaces the check for the user's interrupt (Ctrl-C) while a command
  // waits; tests set it, the tool leaves it empty.
  std::function<bool()> interrupted;
  // The lab's database (--db, else VANTOREL_DB; empty: the default file).
  std::string db;
  // Environment lookup for the database's default folder and the user name.
  std::function<std::optional<std::string>(const std::string&)> environment;
};

// Prints `payload` (with "command" and "ok": true added) in JSON mode, or
// calls `human` otherwise; returns kExitOk.
int Succeed(Session& session, nlohmann::json payload, const std::function<void()>& human);

// Reports a failed Status: "error: <code>: <text>" (driver code, exit 1) or
// "error: <text>" (transport, exit 3) on standard error, then `hint` (the
// next step) on a line of its own when not empty; in JSON mode also the
// envelope with "ok": false, "result", "transportError", "error" and "hint".
int Fail(Session& session, const Status& status, const std::string& hint = "");

// For a command whose main work succeeded but whose last step did not
// (the measurement was fetched and printed, but not recorded): prints as
// Succeed, then "error: <text>" and the hint on standard error; in JSON
// mode the envelope carries the payload with "ok": false, "error" and
// "exitCode". Returns `exitCode`.
int SucceedPartly(Session& session, nlohmann::json payload, const std::function<void()>& human,
                  int exitCode, const std::string& text, const std::string& hint = "");

// Reports a failure that is not a Status (usage, a refusal, writing) with
// `exitCode`, and its hint as Fail does.
int FailWith(Session& session, int exitCode, const std::string& text, const std::string& hint = "");

// The exit code for a failed Status (1 or 3); kExitOk for an Ok one.
int ExitCodeOf(const Status& status);

// Prints rows as left-aligned columns separated by two spaces; the first row
// is the heading. Widths count bytes.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows);

// "1 sample", "2 samples": `count` and the noun in the right number
// (`plural` defaults to singular + "s").
std::string Counted(std::uint64_t count, const std::string& singular, std::string plural = "");

// The geometry name of a map key ("r15as45"), or "angle <n>" for a key that
// is no listed geometry.
std::string AngleName(SpectrumAngle angle);

}  // namespace vantorel::ctl
