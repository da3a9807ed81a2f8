// The device log sink's line forms on standard output.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "device/VantorelLogger.h"

namespace {

// Captures std::cout and counts flushes while alive.
class CoutCapture : public std::stringbuf {
 public:
  CoutCapture() : old_(std::cout.rdbuf(this)) {}
  ~CoutCapture() override { std::cout.rdbuf(old_); }
  int flushes = 0;

 protected:
  int sync() override {
    ++flushes;
    return 0;
  }

 private:
  std::streambuf* old_;
};

TEST(VantorelLogger, WritesOnePrefixedFlushedLinePerReport) {
  VantorelLogger logger;
  Vexil::Device_Cpp::LogInterface& sink = logger;
  CoutCapture capture;

  sink.Error("x");
  EXPECT_EQ(capture.str(), "Error: x\n");
  EXPECT_EQ(capture.flushes, 1);

  sink.Warning("");
  sink.Message("done\n");
  sink.Message("plain");
  EXPECT_EQ(capture.str(), "Error: x\nWarning: \ndone\n\nplain\n");
  EXPECT_EQ(capture.flushes, 4);
}

TEST(VantorelLogger, NullTextCountsAsEmpty) {
  VantorelLogger logger;
  CoutCapture capture;
  logger.Message(nullptr);
  logger.Error(nullptr);
  logger.Warning(nullptr);
  EXPECT_EQ(capture.str(), "\nError: \nWarning: \n");
}

}  // namespace
