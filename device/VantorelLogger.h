// VantorelLogger: the driver's only device log sink. It writes each report as
// one line to standard output and keeps nothing:
//   Message: the text;  Error: "Error: " + text;  Warning: "Warning: " + text;
// each followed by a newline and a flush. A null text counts as empty.
//
// Threads: no lock; any thread may report. Each line (prefix, text, newline)
// goes to the stream in one insertion, so reports from different threads do
// not split each other's lines in practice; their order is not defined.
#pragma once

#include "device/LogInterface.h"

class VantorelLogger final : public Vexil::Device_Cpp::LogInterface {
 public:
  VantorelLogger() = default;
  ~VantorelLogger() = default;

  void Message(const char* text) override;
  void Error(const char* text) override;
  void Warning(const char* text) override;
};
