// The record store's contract, run against every back end: exact round
// trips, one id sequence, versions of standards, history and trend
// queries, concurrent writers, and the schema's version guard.
#include <cctype>
#include <mutex>
#include <thread>

#include "client/records/RecordStore.h"
#include "unit/records/StoreTestSupport.h"

namespace vantorel::records {
namespace {

using testing::Backend;

class RecordStoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kPostgres && testing::PostgresUri().empty()) {
      GTEST_SKIP() << "no PostgreSQL test server (VANTOREL_TEST_POSTGRES_URI_FILE is unset)";
    }
    store_ = OpenFresh();
    ASSERT_TRUE(store_) << status_.message;
  }

  std::string Schema() const {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string schema = "t_";
    for (char c : name)
      schema +=
          std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
    return schema.substr(0, 60);
  }

  // Another connection to the same database (another process, in effect).
  std::unique_ptr<SqlConnection> OpenAgainConnection() {
    std::unique_ptr<SqlConnection> connection;
    if (GetParam() == Backend::kSqlite) {
      connection = OpenSqlite((folder_.Path() / "lab.db").string(), status_);
    } else {
      connection = ConnectPostgres(testing::PostgresUri(), status_);
      if (connection) status_ = connection->Run("SET search_path TO " + Schema(), {});
    }
    if (!status_.ok) return nullptr;
    return connection;
  }

  std::unique_ptr<RecordStore> OpenAgain() {
    auto connection = OpenAgainConnection();
    if (!connection) return nullptr;
    return RecordStore::Open(std::move(connection), status_);
  }

  std::unique_ptr<RecordStore> OpenFresh() {
    auto connection = testing::FreshConnection(GetParam(), folder_, Schema(), status_);
    if (!connection || !status_.ok) return nullptr;
    return RecordStore::Open(std::move(connection), status_);
  }

  testing::ScratchFolder folder_;
  StoreStatus status_;
  std::unique_ptr<RecordStore> store_;
};

MeasurementRecord Measurement(const std::string& job, int samples = 2) {
  MeasurementRecord record;
  record.operatorName = "Zoë";
  record.instrument = "bench 2";
  record.host = "127.0.0.1";
  record.port = 8889;
  record.job = job;
  record.make = "blue pearl";
  record.sampleCount = samples;
  for (int sample = -1; sample < samples; ++sample) {
    SampleReading reading{sample, {}};
    for (const char* geometry : {"r45as45", "r15as-15"}) {
      GeometryReading value;
      value.geometry = geometry;
      value.lab = Lab3{50.0 + sample, 0.1 * sample - 1.0 / 3.0, -20.000000000000004};
      value.spectrum.assign(31, 0.0);
      for (int k = 0; k < 31; ++k) value.spectrum[k] = 0.01f * static_cast<float>(k + sample);
      value.texture = std::array<double, 7>{1e-300, -0.0, 0.5, 1, 2, 3, 4};
      if (sample == -1 && std::string(geometry) == "r45as45") value.exr = {0, 255, 0, 'v', 1};
      reading.geometries.push_back(value);
    }
    if (sample < 0) {
      record.combined = reading;
    } else {
      record.samples.push_back(reading);
    }
  }
  record.spread.push_back(
      {"r45as45", {50.5, 0.0, -20.0}, {0.7, std::nullopt, 0.1}, {1.0, 0.1, 0.0}});
  return record;
}

HistoryQuery Query(std::optional<std::string> job, std::optional<std::string> standard,
                   std::optional<std::string> since, int limit = 50) {
  HistoryQuery query;
  query.job = std::move(job);
  query.standard = std::move(standard);
  query.since = std::move(since);
  query.limit = limit;
  return query;
}

ComparisonRecord ComparisonOf(const StandardRecord& standard, std::int64_t batch, double deltaE) {
  ComparisonRecord comparison;
  comparison.operatorName = "Zoë";
  comparison.standardId = standard.id;
  comparison.standardSource = "std:" + standard.name;
  comparison.batchRecord = batch;
  comparison.batchSource = "#" + std::to_string(batch);
  comparison.formula = "de2000";
  comparison.passed = deltaE <= 1.0;
  ComparisonRowRecord both;
  both.geometry = "r45as45";
  both.status = deltaE <= 1.0 ? "pass" : "fail";
  both.tolerance = 1.0;
  both.standardLab = Lab3{50, 0, -20};
  both.batchLab = Lab3{51, 0, -20};
  both.dL = 1.0;
  both.deltaE = deltaE;
  ComparisonRowRecord oneSided;
  oneSided.geometry = "r15as15";
  oneSided.status = "only in standard";
  oneSided.tolerance = 1.0;
  oneSided.standardLab = Lab3{40, 1, 2};
  comparison.rows = {both, oneSided};
  return comparison;
}

StandardRecord StandardNamed(const std::string& name, double l = 50.0) {
  StandardRecord standard;
  standard.name = name;
  standard.source = "azure";
  standard.note = "agreed with the customer";
  standard.values = {{"r45as45", {l, 0.0, -20.0}}, {"r15as-15", {60.0, 1.0, -25.0}}};
  standard.tolerances = {{"*", 1.0}, {"r15as-15", 1.5}};
  return standard;
}

TEST_P(RecordStoreTest, MeasurementsComeBackExactlyAsRecorded) {
  MeasurementRecord written = Measurement("Azure pearl");
  ASSERT_TRUE(store_->AddMeasurement(written).ok);
  const Found<MeasurementRecord> read = store_->Measurement(written.id);
  ASSERT_TRUE(read.status.ok) << read.status.message;
  ASSERT_TRUE(read.value);
  const MeasurementRecord& back = *read.value;
  EXPECT_EQ(back.time, written.time);
  EXPECT_EQ(back.operatorName, "Zoë");
  EXPECT_EQ(back.make, "blue pearl");
  EXPECT_EQ(back.sampleCount, 2);
  EXPECT_FALSE(back.sampleIndex);
  ASSERT_EQ(back.samples.size(), 2u);
  const auto same = [](const SampleReading& a, const SampleReading& b) {
    ASSERT_EQ(a.geometries.size(), b.geometries.size());
    for (std::size_t g = 0; g < a.geometries.size(); ++g) {
      EXPECT_EQ(a.geometries[g].geometry, b.geometries[g].geometry);
      EXPECT_EQ(a.geometries[g].lab, b.geometries[g].lab);  // bit for bit
      // Spectra keep the protocol's float precision.
      ASSERT_EQ(a.geometries[g].spectrum.size(), b.geometries[g].spectrum.size());
      for (std::size_t k = 0; k < a.geometries[g].spectrum.size(); ++k) {
        EXPECT_EQ(static_cast<float>(a.geometries[g].spectrum[k]),
                  static_cast<float>(b.geometries[g].spectrum[k]));
      }
      EXPECT_EQ(a.geometries[g].texture, b.geometries[g].texture);
      EXPECT_EQ(a.geometries[g].exr, b.geometries[g].exr);
    }
  };
  same(back.combined, written.combined);
  same(back.samples[1], written.samples[1]);
  ASSERT_EQ(back.spread.size(), 1u);
  EXPECT_EQ(back.spread[0].stdev[1], std::nullopt);
  EXPECT_EQ(back.spread[0].range[0], 1.0);
  EXPECT_FALSE(store_->Measurement(written.id + 100).value);
}

TEST_P(RecordStoreTest, MeasurementsAndComparisonsShareOneSequenceOfIds) {
  MeasurementRecord first = Measurement("A");
  ASSERT_TRUE(store_->AddMeasurement(first).ok);
  StandardRecord standard = StandardNamed("Azure");
  ASSERT_TRUE(store_->AddStandard(standard).ok);
  ComparisonRecord comparison = ComparisonOf(standard, first.id, 0.4);
  ASSERT_TRUE(store_->AddComparison(comparison).ok);
  MeasurementRecord second = Measurement("B");
  ASSERT_TRUE(store_->AddMeasurement(second).ok);
  EXPECT_LT(first.id, comparison.id);
  EXPECT_LT(comparison.id, second.id);
  EXPECT_EQ(store_->KindOf(first.id).value, EntryKind::kMeasurement);
  EXPECT_EQ(store_->KindOf(comparison.id).value, EntryKind::kComparison);
  EXPECT_EQ(store_->KindOf(second.id + 1).value, EntryKind::kNone);
  EXPECT_FALSE(store_->Comparison(first.id).value);
  EXPECT_FALSE(store_->Measurement(comparison.id).value);

  const Found<ComparisonRecord> back = store_->Comparison(comparison.id);
  ASSERT_TRUE(back.value);
  EXPECT_EQ(back.value->standardName, "Azure");
  EXPECT_EQ(back.value->standardVersion, 1);
  ASSERT_EQ(back.value->rows.size(), 2u);
  EXPECT_EQ(back.value->rows[0].deltaE, 0.4);
  EXPECT_EQ(back.value->rows[1].status, "only in standard");
  EXPECT_FALSE(back.value->rows[1].batchLab);
  EXPECT_FALSE(back.value->rows[1].deltaE);
}

TEST_P(RecordStoreTest, ReplacingAStandardKeepsEveryVersionAndRemovingHidesTheName) {
  StandardRecord v1 = StandardNamed("Blau é", 50.0);
  StandardRecord v2 = StandardNamed("Blau é", 51.0);
  StandardRecord other = StandardNamed("blau é");  // names compare exactly
  ASSERT_TRUE(store_->AddStandard(v1).ok);
  ASSERT_TRUE(store_->AddStandard(v2).ok);
  ASSERT_TRUE(store_->AddStandard(other).ok);
  EXPECT_EQ(v2.version, 2);
  EXPECT_EQ(other.version, 1);
  EXPECT_EQ(store_->Standard("Blau é").value->values[0].lab[0], 51.0);
  EXPECT_EQ(store_->Standard("Blau é", 1).value->values[0].lab[0], 50.0);
  EXPECT_EQ(store_->Standard("Blau é").value->tolerances.size(), 2u);
  ASSERT_EQ(store_->Standards().value->size(), 2u);

  EXPECT_EQ(store_->RemoveStandard("Blau é").value, true);
  EXPECT_EQ(store_->RemoveStandard("Blau é").value, false);
  EXPECT_FALSE(store_->Standard("Blau é").value);
  EXPECT_TRUE(store_->Standard("Blau é", 1).value);  // records still name it
  EXPECT_EQ(store_->Standards().value->size(), 1u);

  StandardRecord v3 = StandardNamed("Blau é", 52.0);
  ASSERT_TRUE(store_->AddStandard(v3).ok);
  EXPECT_EQ(v3.version, 3);
  EXPECT_EQ(store_->Standard("Blau é").value->version, 3);
  EXPECT_EQ(store_->StandardVersions("Blau é").value->size(), 3u);
}

TEST_P(RecordStoreTest, HistoryIsNewestFirstAndFiltersByJobStandardAndTime) {
  StandardRecord standard = StandardNamed("Azure");
  ASSERT_TRUE(store_->AddStandard(standard).ok);
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 5; ++i) {
    MeasurementRecord record = Measurement(i % 2 == 0 ? "even" : "odd", 1);
    record.time = "2026-12-0" + std::to_string(i + 1) + "T10:00:00Z";
    ASSERT_TRUE(store_->AddMeasurement(record).ok);
    ids.push_back(record.id);
  }
  ComparisonRecord fail = ComparisonOf(standard, ids[3], 1.7);
  ASSERT_TRUE(store_->AddComparison(fail).ok);

  struct Case {
    HistoryQuery query;
    std::vector<std::int64_t> expected;
  } cases[] = {
      {Query({}, {}, {}), {ids[4], ids[3], ids[2], ids[1], ids[0]}},
      {Query({}, {}, {}, 2), {ids[4], ids[3]}},
      {Query("even", {}, {}), {ids[4], ids[2], ids[0]}},
      {Query({}, {}, "2026-12-04T00:00:00Z"), {ids[4], ids[3]}},
      {Query({}, "Azure", {}), {ids[3]}},
      {Query({}, "azure", {}), {}},
  };
  for (const Case& c : cases) {
    const Found<std::vector<HistoryEntry>> history = store_->History(c.query);
    ASSERT_TRUE(history.value) << history.status.message;
    std::vector<std::int64_t> got;
    for (const HistoryEntry& entry : *history.value) got.push_back(entry.id);
    EXPECT_EQ(got, c.expected);
  }
  const auto all = store_->History({});
  ASSERT_EQ(all.value->at(1).comparisons.size(), 1u);
  EXPECT_EQ(all.value->at(1).comparisons[0].standard, "Azure");
  EXPECT_FALSE(all.value->at(1).comparisons[0].passed);
}

TEST_P(RecordStoreTest, TrendListsEveryVersionOldestFirst) {
  StandardRecord v1 = StandardNamed("Azure");
  ASSERT_TRUE(store_->AddStandard(v1).ok);
  MeasurementRecord batch = Measurement("batch", 1);
  ASSERT_TRUE(store_->AddMeasurement(batch).ok);
  ComparisonRecord a = ComparisonOf(v1, batch.id, 0.3);
  a.time = "2026-12-01T08:00:00Z";
  ASSERT_TRUE(store_->AddComparison(a).ok);
  StandardRecord v2 = StandardNamed("Azure", 52.0);
  ASSERT_TRUE(store_->AddStandard(v2).ok);
  ComparisonRecord b = ComparisonOf(v2, batch.id, 1.2);
  b.time = "2026-12-02T08:00:00Z";
  ASSERT_TRUE(store_->AddComparison(b).ok);

  const auto trend = store_->Trend("Azure", std::nullopt);
  ASSERT_TRUE(trend.value);
  ASSERT_EQ(trend.value->size(), 2u);
  EXPECT_EQ(trend.value->at(0).version, 1);
  EXPECT_EQ(trend.value->at(1).version, 2);
  EXPECT_EQ(trend.value->at(1).job, "batch");
  ASSERT_EQ(trend.value->at(1).values.size(), 2u);
  EXPECT_EQ(trend.value->at(1).values[0].deltaE, 1.2);
  EXPECT_EQ(store_->Trend("Azure", "2026-12-02T00:00:00Z").value->size(), 1u);
  EXPECT_TRUE(store_->Trend("nothing", std::nullopt).value->empty());
}

TEST_P(RecordStoreTest, MakesAreRememberedPerJob) {
  EXPECT_FALSE(store_->RememberedMake("Std").value);
  ASSERT_TRUE(store_->RememberMake("Std", "blue pearl").ok);
  ASSERT_TRUE(store_->RememberMake("Std", "red").ok);
  EXPECT_EQ(store_->RememberedMake("Std").value, "red");
}

TEST_P(RecordStoreTest, WritersInSeveralConnectionsAtOnceAllSucceed) {
  constexpr int kWriters = 4, kEach = 15;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  std::string firstError;
  std::mutex errorLock;
  for (int w = 0; w < kWriters; ++w) {
    auto store = OpenAgain();
    ASSERT_TRUE(store) << status_.message;
    threads.emplace_back([&, s = std::move(store)]() mutable {
      for (int i = 0; i < kEach; ++i) {
        MeasurementRecord record = Measurement("concurrent", 1);
        const StoreStatus status = s->AddMeasurement(record);
        if (!status.ok) {
          ++failures;
          std::lock_guard lock(errorLock);
          if (firstError.empty()) firstError = status.message;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0) << firstError;
  EXPECT_EQ(store_->History(Query({}, {}, {}, 1000)).value->size(),
            static_cast<std::size_t>(kWriters * kEach));
}

RunRecord StdRun(int samples) {
  RunRecord run;
  run.instrument = "local";
  run.job = "Std";
  run.samples = samples;
  return run;
}

TEST_P(RecordStoreTest, ARunIsRecordedOnceAndItsDurationsGiveEstimates) {
  RunRecord first = StdRun(3);
  ASSERT_TRUE(store_->StartRun(first, false).value.value_or(false));
  // A second service noticing the same run adds none.
  RunRecord noticed = StdRun(3);
  EXPECT_FALSE(store_->StartRun(noticed, true).value.value_or(true));
  ASSERT_TRUE(store_->FinishRun("local", "Std", "measured", 1200).ok);

  auto other = OpenAgain();
  ASSERT_TRUE(other) << status_.message;
  MeasurementRecord a = Measurement("Std"), b = Measurement("Std");
  const Found<std::int64_t> recorded = store_->RecordRun(first.id, a);
  const Found<std::int64_t> again = other->RecordRun(first.id, b);
  ASSERT_TRUE(recorded.value && again.value) << recorded.status.message << again.status.message;
  EXPECT_EQ(*again.value, *recorded.value);
  EXPECT_EQ(b.id, 0);
  EXPECT_EQ(store_->History({}).value->size(), 1u);

  RunRecord second = StdRun(3);
  ASSERT_TRUE(store_->StartRun(second, true).value.value_or(false));
  const Found<RunRecord> latest = other->LatestRun("local", "Std");
  ASSERT_TRUE(latest.value);
  EXPECT_EQ(latest.value->id, second.id);
  EXPECT_EQ(latest.value->state, "measuring");
  EXPECT_FALSE(latest.value->record);
  ASSERT_TRUE(store_->FinishRun("local", "Std", "measured", 1000).ok);
  EXPECT_EQ(*store_->RunDurations("local", 3, 10).value, (std::vector<std::int64_t>{1000, 1200}));
  EXPECT_TRUE(store_->RunDurations("local", 4, 10).value->empty());
}

TEST_P(RecordStoreTest, ANewerSchemaIsRefusedAndLeftUnchanged) {
  store_.reset();
  {
    auto connection = OpenAgainConnection();
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->Run("UPDATE schema_version SET version = 99", {}).ok);
  }
  EXPECT_FALSE(OpenAgain());
  EXPECT_NE(status_.message.find("schema version 99"), std::string::npos) << status_.message;
  auto connection = OpenAgainConnection();
  SqlRows rows;
  ASSERT_TRUE(connection->Run("SELECT version FROM schema_version", {}, &rows).ok);
  EXPECT_EQ(rows.at(0).Int(0), 99);
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordStoreTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         testing::BackendName);

}  // namespace
}  // namespace vantorel::records
