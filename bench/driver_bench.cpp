// driver_bench: times the real driver process (with the virtual instrument)
// against a raw TCP peer process of our own on the same loopback, in the same
// run, and shows where a measurement request spends its time.
//
//   (a) small requests: the round trip of a cancel request (17-byte frame,
//       20-byte answer) over one connection, against a ping-pong of the same
//       sizes; and the first request of a newly accepted client, from the
//       completed TCP connect to the last byte of the answer;
//   (b) one sample answer (MsgGetSample, images of --px pixels a side, about
//       18 MB at 1024 px), from the request to the last byte, against the raw
//       peer sending the same number of bytes;
//   (c) the driver's peak memory (VmHWM) around a measurement of 1 and of 20
//       samples (each with a fresh driver; skipped with --memory 0);
//   (d) a measurement request (MsgGetMeasure) of a 3-sample job, broken down
//       into device reads, glue, image correction and send (in-process: the
//       driver's request code with the virtual instrument and the glue);
//   (e) small requests of a driver holding a measured job: a cancel and a job
//       list request, each right after a sample answer (the mixed workload),
//       and cancels back to back, against the raw peer answering the same
//       sizes.
// The driver and raw exchanges alternate, so that both see the same load.
//
// Usage: driver_bench [--trips 5000] [--runs 15] [--px 1024] [--pin CPU]
//                     [--memory 1] [--breakdown-runs 3] [--mixed-rounds 100]
//                     [--only-mixed 0]
// --only-mixed 1 runs section (e) alone.
// --pin CPU puts the benchmark, the driver and the raw peer on that one CPU.
// With VANTOREL_DRIVER_WINE=<vantorel-driver.exe> (a Windows build) sections
// (a) and (b) time that driver under Wine; (c) is skipped and (d) is the
// native code in-process either way. Linux only; uses port 8889 and must not
// run beside the integration suite.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "LoopbackPeer.h"
#include "MeasurementBreakdown.h"
#include "WireClient.h"
#include "client/Client.h"
#include "fakes/RawClient.h"
#include "integration/DriverProcess.h"
#include "messages/MessageHeader.h"

namespace {

using bench::Clock;
using bench::Fail;
using bench::Micros;
using Bytes = std::vector<std::uint8_t>;
using integration::DriverProcess;
using integration::Environment;

constexpr std::uint16_t kDriverPort = 8889;

Bytes Text(const std::string& text) {
  Bytes bytes = Le32(static_cast<std::uint32_t>(text.size()));
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

void ConnectClient(vantorel::Client& client) {
  const Clock::time_point start = Clock::now();
  while (!client.Connect().Ok()) {
    if (Clock::now() - start > std::chrono::seconds(10)) Fail("cannot connect to the driver");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

Environment Instrument(int imagePx) {
  return {{"VANTOREL_SIM_CONNECT_MS", "0"},
          {"VANTOREL_SIM_SAMPLE_MS", "0"},
          {"VANTOREL_SIM_IMAGE_PX", std::to_string(imagePx)}};
}

// Starts a driver, connects the instrument and measures job "bench" with
// `samples` samples. The client stays connected.
void PrepareDriver(DriverProcess& driver, vantorel::Client& client, int imagePx, int samples) {
  if (!driver.StartAndWait(Instrument(imagePx))) Fail(driver.Failure());
  ConnectClient(client);
  if (!client.ConnectUsb(10000).Ok()) Fail("instrument connect failed");
  if (!client.AddJob("bench", "Silver Metallic", static_cast<std::uint32_t>(samples)).Ok() ||
      !client.DoJob("bench").Ok()) {
    Fail("job not stored or not run");
  }
  for (;;) {
    const vantorel::JobsAnswer jobs = client.GetJobs();
    if (!jobs.status.Ok() || jobs.jobs.empty()) Fail("job list failed");
    if (jobs.jobs.back().state == 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Bytes SampleRequest() {
  Bytes body = Text("bench");
  const Bytes index = Le32(0);
  body.insert(body.end(), index.begin(), index.end());
  return Protocol::BuildFrame(6, body);
}

long VmHwmKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

struct Pair {
  std::vector<double> driver;
  std::vector<double> raw;
};

void PrintPair(const char* unit, const Pair& pair, const char* goal) {
  const double d50 = bench::Median(pair.driver), r50 = bench::Median(pair.raw);
  const double d99 = bench::Percentile(pair.driver, 0.99), r99 = bench::Percentile(pair.raw, 0.99);
  std::printf("    %-14s %12s %12s\n", "", (std::string("median ") + unit).c_str(),
              (std::string("p99 ") + unit).c_str());
  std::printf("    %-14s %12.1f %12.1f\n", "driver", d50, d99);
  std::printf("    %-14s %12.1f %12.1f\n", "raw peer", r50, r99);
  std::printf("    ratio driver/raw: median %.2fx, p99 %.2fx (goal %s)\n\n", d50 / r50, d99 / r99,
              goal);
}

// (a) Round trips over one connection, driver and raw peer alternating in
// blocks; then the first request of new connections.
void SmallRequests(int trips, int connections) {
  const Bytes cancel = Protocol::BuildFrame(10, {0});
  DriverProcess driver;
  if (!driver.StartAndWait(Instrument(32))) Fail(driver.Failure());
  bench::LoopbackPeer peer({{10, Protocol::BuildFrame(10, Le32(0))}});

  Pair trip;
  {
    bench::WireClient toDriver, toPeer;
    toDriver.Connect(kDriverPort);
    toPeer.Connect(peer.Port());
    for (int i = 0; i < 200; ++i) {  // warm-up
      toDriver.Exchange(cancel);
      toPeer.Exchange(cancel);
    }
    constexpr int kBlock = 10;
    for (int done = 0; done < trips; done += kBlock) {
      for (int i = 0; i < kBlock; ++i) trip.driver.push_back(toDriver.TimedExchangeUs(cancel));
      for (int i = 0; i < kBlock; ++i) trip.raw.push_back(toPeer.TimedExchangeUs(cancel));
    }
  }
  std::printf("(a) cancel round trip, %zu trips over one connection each\n", trip.driver.size());
  PrintPair("us", trip, "<= 1.2x");

  Pair first;
  for (int i = 0; i < connections; ++i) {
    for (const bool toDriver : {true, false}) {
      bench::WireClient client;
      client.Connect(toDriver ? kDriverPort : peer.Port());
      (toDriver ? first.driver : first.raw).push_back(client.TimedExchangeUs(cancel));
    }
  }
  std::printf(
      "(a) first request of a new connection (connect done to last answer byte), %d "
      "connections each\n",
      connections);
  PrintPair("us", first, "no main-loop pause");
}

// (b) One sample answer, driver and raw peer alternating.
void BulkAnswer(int imagePx, int runs) {
  const Bytes request = SampleRequest();
  DriverProcess driver;
  vantorel::Client client;
  PrepareDriver(driver, client, imagePx, 1);
  client.Close();
  bench::WireClient toDriver;
  toDriver.Connect(kDriverPort);
  const std::size_t size = toDriver.Exchange(request);  // warm-up, and the size
  bench::LoopbackPeer peer({{6, Protocol::BuildFrame(6, Bytes(size - 16, 0x5A))}});
  bench::WireClient toPeer;
  toPeer.Connect(peer.Port());
  toPeer.Exchange(request);  // warm-up
  toDriver.Exchange(request);

  Pair ms;
  for (int i = 0; i < runs; ++i) {
    ms.driver.push_back(toDriver.TimedExchangeUs(request) / 1000.0);
    ms.raw.push_back(toPeer.TimedExchangeUs(request) / 1000.0);
  }
  const double mb = static_cast<double>(size) / 1e6;
  const double d = bench::Median(ms.driver), r = bench::Median(ms.raw);
  std::printf("(b) sample answer of %.1f MB (images %d px), request to last byte, median of %d\n",
              mb, imagePx, runs);
  std::printf("    %-14s %12s %12s\n", "", "median ms", "MB/s");
  std::printf("    %-14s %12.2f %12.0f\n", "driver", d, mb / (d / 1000.0));
  std::printf("    %-14s %12.2f %12.0f\n", "raw peer", r, mb / (r / 1000.0));
  std::printf("    ratio driver/raw bandwidth: %.2fx (goal >= 0.8x)\n\n", r / d);
}

// (c) Peak memory of the driver around a measurement request.
void PeakMemory(int imagePx) {
  std::printf("(c) driver peak resident memory (VmHWM) around a measurement request\n");
  std::printf("    %-10s %14s %14s %12s %10s\n", "samples", "before MB", "after MB", "growth MB",
              "seconds");
  for (const int samples : {1, 20}) {
    DriverProcess driver;
    vantorel::Client client;
    PrepareDriver(driver, client, imagePx, samples);
    const long before = VmHwmKb(driver.Pid());
    const Clock::time_point start = Clock::now();
    const vantorel::MeasurementAnswer answer = client.GetMeasure("bench");
    const double seconds = Micros(Clock::now() - start) / 1e6;
    if (!answer.status.Ok()) Fail("measurement failed: " + answer.status.text);
    const long after = VmHwmKb(driver.Pid());
    std::printf("    %-10d %14.1f %14.1f %12.1f %10.2f\n", samples, before / 1024.0, after / 1024.0,
                (after - before) / 1024.0, seconds);
  }
  std::printf("\n");
}

void PrintBreakdown(const std::vector<bench::Breakdown>& results, bool correction) {
  auto median = [&](double bench::Breakdown::*field) {
    std::vector<double> values;
    for (const bench::Breakdown& b : results) values.push_back(b.*field);
    return bench::Median(values);
  };
  const double total = median(&bench::Breakdown::totalMs);
  const struct {
    const char* name;
    double bench::Breakdown::*field;
  } rows[] = {{"device reads (GetJobs, GetState, GetSample)", &bench::Breakdown::deviceReadMs},
              {"glue (AddSample, FillResult, ResultReady)", &bench::Breakdown::glueMs},
              {"image correction (CorrectExrImage)", &bench::Breakdown::correctionMs},
              {"send (answer bytes to the socket)", &bench::Breakdown::sendMs},
              {"other (records, serialization)", &bench::Breakdown::otherMs},
              {"total", &bench::Breakdown::totalMs}};
  for (const auto& row : rows) {
    if (!correction && row.field == &bench::Breakdown::correctionMs) continue;
    const double ms = median(row.field);
    std::printf("    %-46s %10.2f ms %6.1f%%\n", row.name, ms, 100.0 * ms / total);
  }
  if (!correction) return;
  std::printf("    the correction again, phase by phase, summed over the images:\n");
  std::printf("      decode %.1f ms, scale %.1f ms, encode %.1f ms\n",
              median(&bench::Breakdown::decodeMs), median(&bench::Breakdown::scaleMs),
              median(&bench::Breakdown::encodeMs));
}

// (d) Where a measurement request's time goes.
void Breakdown(int imagePx, int runs) {
  const bench::BreakdownRuns results = bench::MeasureBreakdown(imagePx, 3, runs);
  std::printf(
      "(d) MsgGetMeasure of a 3-sample job, images %d px (%zu corrected, answer %.1f MB), "
      "in-process, median of %d\n",
      imagePx, results.measure.front().images, results.measure.front().answerBytes / 1e6, runs);
  PrintBreakdown(results.measure, true);
  std::printf("    and MsgGetSample of its first sample (answer %.1f MB):\n",
              results.sample.front().answerBytes / 1e6);
  PrintBreakdown(results.sample, false);
  std::printf("\n");
}

// (e) Small requests with a measured job: each timed small request follows an
// untimed sample answer on the same connection; then cancels back to back.
void MixedRequests(int imagePx, int rounds, int trips) {
  const Bytes sample = SampleRequest();
  const Bytes cancel = Protocol::BuildFrame(10, {0});
  const Bytes jobs = Protocol::BuildFrame(2, {0, 0, 0});
  DriverProcess driver;
  vantorel::Client client;
  PrepareDriver(driver, client, imagePx, 1);
  client.Close();
  bench::WireClient toDriver;
  toDriver.Connect(kDriverPort);
  const std::size_t sampleSize = toDriver.Exchange(sample);  // warm-up, and the sizes
  const std::size_t jobsSize = toDriver.Exchange(jobs);
  bench::LoopbackPeer peer({{6, Protocol::BuildFrame(6, Bytes(sampleSize - 16, 0x5A))},
                            {10, Protocol::BuildFrame(10, Le32(0))},
                            {2, Protocol::BuildFrame(2, Bytes(jobsSize - 16, 0))}});
  bench::WireClient toPeer;
  toPeer.Connect(peer.Port());
  for (bench::WireClient* to : {&toDriver, &toPeer}) {  // warm-up
    for (int i = 0; i < 3; ++i) {
      to->Exchange(sample);
      to->Exchange(cancel);
      to->Exchange(jobs);
    }
  }

  Pair afterCancel, afterJobs, quiet;
  for (int i = 0; i < rounds; ++i) {
    for (const bool toTheDriver : {true, false}) {
      bench::WireClient& to = toTheDriver ? toDriver : toPeer;
      to.Exchange(sample);
      (toTheDriver ? afterCancel.driver : afterCancel.raw).push_back(to.TimedExchangeUs(cancel));
      to.Exchange(sample);
      (toTheDriver ? afterJobs.driver : afterJobs.raw).push_back(to.TimedExchangeUs(jobs));
    }
  }
  constexpr int kBlock = 10;
  for (int done = 0; done < trips; done += kBlock) {
    for (int i = 0; i < kBlock; ++i) quiet.driver.push_back(toDriver.TimedExchangeUs(cancel));
    for (int i = 0; i < kBlock; ++i) quiet.raw.push_back(toPeer.TimedExchangeUs(cancel));
  }
  std::printf(
      "(e) small requests with a measured job (sample answers of %.1f MB, images %d px)\n"
      "    cancel round trip right after a sample answer, %d each\n",
      static_cast<double>(sampleSize) / 1e6, imagePx, rounds);
  PrintPair("us", afterCancel, "<= 1.2x");
  std::printf("    job list round trip (answer %zu bytes) right after a sample answer, %d each\n",
              jobsSize, rounds);
  PrintPair("us", afterJobs, "<= 1.2x");
  std::printf("    cancel round trip back to back, %zu each\n", quiet.driver.size());
  PrintPair("us", quiet, "<= 1.2x");
}

}  // namespace

int main(int argc, char** argv) {
  const int trips = std::max(100, bench::IntOption(argc, argv, "trips", 5000));
  const int runs = std::max(3, bench::IntOption(argc, argv, "runs", 15));
  const int imagePx = std::clamp(bench::IntOption(argc, argv, "px", 1024), 4, 4096);
  const int pin = bench::IntOption(argc, argv, "pin", -1);
  const bool memory = bench::IntOption(argc, argv, "memory", 1) != 0;
  const int breakdownRuns = std::max(1, bench::IntOption(argc, argv, "breakdown-runs", 3));
  const int mixedRounds = std::max(10, bench::IntOption(argc, argv, "mixed-rounds", 100));
  const bool onlyMixed = bench::IntOption(argc, argv, "only-mixed", 0) != 0;
  if (pin >= 0 && !bench::PinToCpu(pin)) Fail("cannot pin to CPU " + std::to_string(pin));
  std::printf("driver: %s\nplacement: %s\n\n", integration::DriverExecutable().c_str(),
              bench::Placement(pin).c_str());
  std::fflush(stdout);

  if (onlyMixed) {
    MixedRequests(imagePx, mixedRounds, std::min(trips, 1000));
    return 0;
  }
  SmallRequests(trips, 50);
  std::fflush(stdout);
  BulkAnswer(imagePx, runs);
  std::fflush(stdout);
  // Under Wine the process's peak memory is mostly Wine's own.
  if (memory && !integration::WineMode()) PeakMemory(imagePx);
  Breakdown(imagePx, breakdownRuns);
  std::fflush(stdout);
  MixedRequests(imagePx, mixedRounds, std::min(trips, 1000));
  return 0;
}
