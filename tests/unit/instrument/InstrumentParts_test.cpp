// The instrument's building blocks: configuration parsing, text encoding and
// the log ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "InstrumentTestSupport.h"
#include "sim/instrument/InstrumentLog.h"
#include "sim/instrument/SimConfig.h"
#include "sim/instrument/TextEncoding.h"

namespace instrument::test {
namespace {

void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value == nullptr ? "" : value);
#else
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
#endif
}

// Each word's effect is checked through the instrument (InstrumentFaults);
// here the edges of the list syntax.
TEST(InstrumentConfig, FaultListToleratesBlanksAndRejectsMalformedWords) {
  Faults faults;
  std::vector<std::string> warnings;
  ParseFaults(
      " connect=fail:-3 ,,getstate=fail:2147483647,getstate=notready:always,"
      "getjobs=fail:2147483648,getsample=fail:,Connect=hang,getstate=notready:-1",
      faults, warnings);
  EXPECT_EQ(faults.connectFail, -3);
  EXPECT_EQ(faults.getStateFail, 2147483647);
  EXPECT_TRUE(faults.notReadyAlways);
  EXPECT_FALSE(faults.getJobsFail);
  EXPECT_FALSE(faults.getSampleFail);
  EXPECT_FALSE(faults.connectHang);
  EXPECT_EQ(faults.notReadyCount, 0u);
  EXPECT_EQ(warnings.size(), 4u);
}

TEST(InstrumentConfig, EnvironmentSetsValuesAndKeepsDefaultsForBadOnes) {
  SetEnv("VANTOREL_SIM_CONNECT_MS", "25");
  SetEnv("VANTOREL_SIM_SAMPLE_MS", "12x");
  SetEnv("VANTOREL_SIM_IMAGE_PX", "3");
  SetEnv("VANTOREL_SIM_STORE", "/tmp/some-store");
  SetEnv("VANTOREL_SIM_FAULTS", "contents=short,bogus");
  const SimConfig config = ConfigFromEnvironment();
  for (const char* name : {"VANTOREL_SIM_CONNECT_MS", "VANTOREL_SIM_SAMPLE_MS",
                           "VANTOREL_SIM_IMAGE_PX", "VANTOREL_SIM_STORE", "VANTOREL_SIM_FAULTS"}) {
    SetEnv(name, nullptr);
  }
  EXPECT_EQ(config.connectMs, 25u);
  EXPECT_EQ(config.sampleMs, 200u);
  EXPECT_EQ(config.imagePx, 256);
  EXPECT_EQ(config.storePath, "/tmp/some-store");
  EXPECT_TRUE(config.faults.shortContents);
  EXPECT_EQ(config.warnings.size(), 3u);  // sample ms, image px, bogus
}

TEST(InstrumentText, LogLinesKeepUtf8AndLoseControlsAndBadBytes) {
  EXPECT_EQ(SanitizeForLog("ok \xC3\xA9"), "ok \xC3\xA9");
  EXPECT_EQ(SanitizeForLog("a\nb\r\x7F"), "a b  ");
  EXPECT_EQ(SanitizeForLog(std::string("\0", 1)), " ");
  // Every bad byte by itself (colour's rule; its cases are in Utf8_test).
  EXPECT_EQ(SanitizeForLog("x\xE2\x82"), "x\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(InstrumentLogRing, KeepsTheMostRecentWholeLinesWithinItsCapacity) {
  InstrumentLog log(1000);
  for (int i = 0; i < 500; ++i) log.Write(LogLevel::kMessage, "line " + std::to_string(i));
  const std::string text = log.Contents();
  EXPECT_LE(text.size(), 1000u);
  EXPECT_GT(text.size(), 900u);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(text.find(" INFO line 499\n"), std::string::npos);
  EXPECT_EQ(text.find("line 400\n"), std::string::npos);
  // Starts at a line start: a date.
  EXPECT_TRUE(text[0] >= '0' && text[0] <= '9');
  EXPECT_EQ(text[4], '-');

  InstrumentLog big;
  big.Write(LogLevel::kError, std::string(InstrumentLog::kMaxTextBytes + 10, 'z'));
  const std::string one = big.Contents();
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 1);
  EXPECT_NE(one.find(" ERROR " + std::string(InstrumentLog::kMaxTextBytes, 'z') + "...\n"),
            std::string::npos);
}

TEST(InstrumentLogRing, ForwardsByLevelAndHoldsLinesUntilASinkArrives) {
  InstrumentLog log;
  log.Write(LogLevel::kWarning, "early");
  RecordingLogger sink;
  log.SetSink(&sink);
  log.Write(LogLevel::kMessage, "m");
  log.Write(LogLevel::kError, "e\nx");
  log.SetSink(nullptr);
  log.Write(LogLevel::kMessage, "after");
  EXPECT_EQ(sink.Lines(), (std::vector<std::string>{"W early", "M m", "E e x"}));
  EXPECT_NE(log.Contents().find(" WARNING early\n"), std::string::npos);
}

// Records each text and the threads that delivered them.
class ThreadRecordingSink final : public dv::LogInterface {
 public:
  void Message(const char* text) override { Add(text); }
  void Error(const char* text) override { Add(text); }
  void Warning(const char* text) override { Add(text); }
  std::mutex mutex;
  std::vector<std::string> texts;
  std::set<std::thread::id> threads;

 private:
  void Add(const char* text) {
    std::lock_guard lock(mutex);
    texts.emplace_back(text);
    threads.insert(std::this_thread::get_id());
  }
};

// Writers never wait for the sink; it still gets every line once, in the
// ring's order, and Flush hands over whatever is queued.
TEST(InstrumentLogRing, ForwardsEveryLineInTheRingsOrderOffTheWritersThreads) {
  ThreadRecordingSink sink;
  InstrumentLog log;
  log.SetSink(&sink);
  std::vector<std::thread> writers;
  std::set<std::thread::id> writerIds;
  for (int w = 0; w < 3; ++w) {
    writers.emplace_back([&log, w] {
      for (int i = 0; i < 200; ++i) {
        log.Write(i % 2 ? LogLevel::kMessage : LogLevel::kWarning,
                  std::to_string(w) + "." + std::to_string(i));
      }
    });
    writerIds.insert(writers.back().get_id());
  }
  for (std::thread& writer : writers) writer.join();
  log.Flush();

  std::vector<std::string> ring;
  std::istringstream lines(log.Contents());
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (INFO|WARNING) (\d\.\d+))");
  for (std::string text; std::getline(lines, text);) {
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(text, parts, line)) << text;
    ring.push_back(parts[2]);
  }
  std::lock_guard lock(sink.mutex);
  EXPECT_EQ(ring.size(), 600u);
  EXPECT_EQ(sink.texts, ring);
  for (const std::thread::id id : writerIds) EXPECT_EQ(sink.threads.count(id), 0u);
}

}  // namespace
}  // namespace instrument::test
