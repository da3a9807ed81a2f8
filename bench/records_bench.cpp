// records_bench: what keeping the lab's records costs.
//
//   (a) `vantorelctl measure` of a 3-sample job with the record store
//       (SQLite, the virtual instrument's default image size) against the
//       same with --no-record: median of --runs runs each, interleaved, in
//       one run of this program against one driver.
//   (b) `vantorelctl history` over --records records (default 10 000), and
//       the database's size per record at a tenth and at all of them
//       (linear growth: the two figures agree).
//   (c) `vantorelctl trend` over --comparisons comparisons (default 1 000)
//       against one standard.
//
// The commands run in-process (RunVantorelctl) on a database in a scratch
// folder. Linux only; starts the driver on port 8889 (run it where nothing
// else listens there, e.g. in a network namespace of its own).
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "BenchSupport.h"
#include "client/Client.h"
#include "client/records/StoreLocation.h"
#include "client/vantorelctl/Ctl.h"
#include "integration/DriverProcess.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;

struct Timed {
  int exitCode = 0;
  double seconds = 0.0;
};

Timed Ctl(const std::vector<std::string>& args, const std::string& db) {
  std::vector<std::string> all = {"vantorelctl", "--db", db};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const std::string& arg : all) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  vantorel::ctl::CtlIo io{out, err, false, [](const std::string&) { return std::nullopt; }};
  const Clock::time_point start = Clock::now();
  Timed timed;
  timed.exitCode = vantorel::ctl::RunVantorelctl(static_cast<int>(argv.size()), argv.data(), io);
  timed.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (timed.exitCode != 0 && timed.exitCode != 5) bench::Fail(all[3] + ": " + err.str());
  return timed;
}

void PrepareJob() {
  vantorel::Client client;
  const Clock::time_point start = Clock::now();
  while (!client.Connect().Ok()) {
    if (Clock::now() - start > std::chrono::seconds(10)) bench::Fail("cannot reach the driver");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!client.ConnectUsb(10000).Ok() || !client.AddJob("bench", "blue pearl", 3).Ok() ||
      !client.DoJob("bench").Ok()) {
    bench::Fail("the job was not stored or not run");
  }
  for (;;) {
    const vantorel::JobsAnswer jobs = client.GetJobs();
    if (!jobs.status.Ok() || jobs.jobs.empty()) bench::Fail("the job list failed");
    if (jobs.jobs.back().state == 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::uintmax_t DatabaseBytes(const std::string& db) {
  // Fold the write-ahead log into the file first.
  vantorel::records::StoreStatus status;
  auto connection = vantorel::records::OpenSqlite(db, status);
  if (!connection || !connection->Run("PRAGMA wal_checkpoint(TRUNCATE)", {}).ok) {
    bench::Fail("cannot checkpoint " + db);
  }
  connection.reset();
  std::error_code ec;
  return fs::file_size(db, ec);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = bench::IntOption(argc, argv, "runs", 20);
  const int records = bench::IntOption(argc, argv, "records", 10000);
  const int comparisons = bench::IntOption(argc, argv, "comparisons", 1000);
  const fs::path scratch = fs::temp_directory_path() / "vantorel-records-bench";
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  const std::string db = (scratch / "lab.db").string();

  // (a) measure with and without the record.
  integration::DriverProcess driver;
  if (!driver.StartAndWait({{"VANTOREL_SIM_CONNECT_MS", "0"}, {"VANTOREL_SIM_SAMPLE_MS", "0"}})) {
    bench::Fail(driver.Failure());
  }
  PrepareJob();
  std::vector<double> with, without;
  for (int i = 0; i < runs; ++i) {
    with.push_back(Ctl({"measure", "bench"}, db).seconds);
    without.push_back(Ctl({"measure", "bench", "--no-record"}, db).seconds);
  }
  driver.Stop();
  const double recorded = bench::Median(with), plain = bench::Median(without);
  std::cout << "(a) measure of a 3-sample job, median of " << runs << ": " << plain * 1000
            << " ms without the record, " << recorded * 1000 << " ms with it: +"
            << (recorded / plain - 1.0) * 100 << " %\n";

  // (b) history over many records: copies of the record made above.
  vantorel::records::StoreStatus status;
  auto store = vantorel::records::OpenStore({{}, db, db}, status);
  if (!store) bench::Fail(status.message);
  auto model = store->Measurement(1);
  if (!model.value) bench::Fail("no record #1");
  const std::uintmax_t before = DatabaseBytes(db);
  std::uintmax_t atTenth = 0;
  const Clock::time_point insertStart = Clock::now();
  for (int i = static_cast<int>(with.size()); i < records; ++i) {
    vantorel::records::MeasurementRecord copy = *model.value;
    copy.time.clear();
    if (!store->AddMeasurement(copy).ok) bench::Fail("insert failed");
    if (i + 1 == records / 10) atTenth = DatabaseBytes(db);
  }
  const double insertSeconds = std::chrono::duration<double>(Clock::now() - insertStart).count();
  const std::uintmax_t atAll = DatabaseBytes(db);
  const double perRecordTenth =
      static_cast<double>(atTenth - before) / (records / 10 - static_cast<int>(with.size()));
  const double perRecordAll =
      static_cast<double>(atAll - atTenth) / (records - records / 10);
  std::cout << "(b) " << records << " records: " << atAll << " bytes; per record "
            << perRecordTenth << " bytes up to " << records / 10 << ", " << perRecordAll
            << " bytes from there to " << records << " (" << insertSeconds * 1000 / records
            << " ms per insert)\n";
  std::vector<double> history, historyAll;
  for (int i = 0; i < 5; ++i) {
    history.push_back(Ctl({"history"}, db).seconds);
    historyAll.push_back(Ctl({"history", "--limit", std::to_string(records), "--json"}, db).seconds);
  }
  std::cout << "    history (50 newest): " << bench::Median(history) * 1000
            << " ms; history --limit " << records << " --json: " << bench::Median(historyAll) * 1000
            << " ms (median of 5)\n";

  // (c) trend over many comparisons against one standard.
  if (Ctl({"standard", "add", "Bench", "#1"}, db).exitCode != 0) bench::Fail("standard add");
  for (int i = 0; i < comparisons; ++i) {
    if (Ctl({"compare", "std:Bench", "#" + std::to_string(2 + i % 10)}, db).exitCode > 5) {
      bench::Fail("compare");
    }
  }
  std::vector<double> trend;
  for (int i = 0; i < 5; ++i) trend.push_back(Ctl({"trend", "Bench"}, db).seconds);
  std::cout << "(c) trend over " << comparisons << " comparisons: " << bench::Median(trend) * 1000
            << " ms (median of 5)\n";
  fs::remove_all(scratch);
  return 0;
}
