// SqlStore: the record store on any SqlConnection. The SQL is the common
// ground of SQLite and PostgreSQL (RETURNING, ON CONFLICT, DOUBLE
// PRECISION); the few differences (id columns, byte columns, how a writer
// locks the schema) come from the connection's dialect.
#include <charconv>
#include <cmath>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>

#include "client/records/RecordStore.h"

namespace vantorel::records {
namespace {

using Params = std::vector<SqlValue>;

// The tables of schema version 1. {ID} is the dialect's id column, {BLOB}
// its byte type. Spectra and texture values are JSON arrays (exact, and
// readable with the database's own JSON functions).
constexpr const char* kSchemaV1[] = {
    "CREATE TABLE entries (id {ID}, kind TEXT NOT NULL, time TEXT NOT NULL)",
    "CREATE TABLE measurements (id BIGINT PRIMARY KEY REFERENCES entries(id), operator TEXT NOT "
    "NULL, instrument TEXT NOT NULL, host TEXT NOT NULL, port INTEGER NOT NULL, job TEXT NOT NULL, "
    "make TEXT NOT NULL, samples INTEGER NOT NULL, sample_index INTEGER)",
    "CREATE INDEX measurements_job ON measurements(job)",
    "CREATE TABLE readings (measurement_id BIGINT NOT NULL REFERENCES measurements(id), sample "
    "INTEGER NOT NULL, position INTEGER NOT NULL, geometry TEXT NOT NULL, l DOUBLE PRECISION, a "
    "DOUBLE PRECISION, b DOUBLE PRECISION, spectrum TEXT, texture TEXT, PRIMARY KEY "
    "(measurement_id, sample, position))",
    "CREATE TABLE images (measurement_id BIGINT NOT NULL REFERENCES measurements(id), sample "
    "INTEGER NOT NULL, geometry TEXT NOT NULL, exr {BLOB} NOT NULL, PRIMARY KEY (measurement_id, "
    "sample, geometry))",
    "CREATE TABLE spreads (measurement_id BIGINT NOT NULL REFERENCES measurements(id), position "
    "INTEGER NOT NULL, geometry TEXT NOT NULL, l_mean DOUBLE PRECISION, a_mean DOUBLE PRECISION, "
    "b_mean DOUBLE PRECISION, l_stdev DOUBLE PRECISION, a_stdev DOUBLE PRECISION, b_stdev DOUBLE "
    "PRECISION, l_range DOUBLE PRECISION, a_range DOUBLE PRECISION, b_range DOUBLE PRECISION, "
    "PRIMARY KEY (measurement_id, position))",
    "CREATE TABLE job_makes (job TEXT PRIMARY KEY, make TEXT NOT NULL)",
    "CREATE TABLE standards (id {ID}, name TEXT NOT NULL, version INTEGER NOT NULL, time TEXT NOT "
    "NULL, source TEXT NOT NULL, source_record BIGINT REFERENCES measurements(id), formula TEXT "
    "NOT "
    "NULL, note TEXT NOT NULL, removed INTEGER NOT NULL DEFAULT 0, UNIQUE (name, version))",
    "CREATE TABLE standard_values (standard_id BIGINT NOT NULL REFERENCES standards(id), position "
    "INTEGER NOT NULL, geometry TEXT NOT NULL, l DOUBLE PRECISION NOT NULL, a DOUBLE PRECISION NOT "
    "NULL, b DOUBLE PRECISION NOT NULL, PRIMARY KEY (standard_id, position))",
    "CREATE TABLE standard_tolerances (standard_id BIGINT NOT NULL REFERENCES standards(id), "
    "geometry TEXT NOT NULL, tolerance DOUBLE PRECISION NOT NULL, PRIMARY KEY (standard_id, "
    "geometry))",
    "CREATE TABLE comparisons (id BIGINT PRIMARY KEY REFERENCES entries(id), operator TEXT NOT "
    "NULL, instrument TEXT NOT NULL, standard_id BIGINT REFERENCES standards(id), standard_source "
    "TEXT NOT NULL, batch_record BIGINT REFERENCES measurements(id), batch_source TEXT NOT NULL, "
    "formula TEXT NOT NULL, overrides TEXT NOT NULL, passed INTEGER NOT NULL, standard_flop DOUBLE "
    "PRECISION, batch_flop DOUBLE PRECISION)",
    "CREATE INDEX comparisons_standard ON comparisons(standard_id)",
    "CREATE INDEX comparisons_batch ON comparisons(batch_record)",
    "CREATE TABLE comparison_rows (comparison_id BIGINT NOT NULL REFERENCES comparisons(id), "
    "position INTEGER NOT NULL, geometry TEXT NOT NULL, status TEXT NOT NULL, tolerance DOUBLE "
    "PRECISION NOT NULL, std_l DOUBLE PRECISION, std_a DOUBLE PRECISION, std_b DOUBLE PRECISION, "
    "batch_l DOUBLE PRECISION, batch_a DOUBLE PRECISION, batch_b DOUBLE PRECISION, dl DOUBLE "
    "PRECISION, da DOUBLE PRECISION, db DOUBLE PRECISION, dc DOUBLE PRECISION, dh DOUBLE "
    "PRECISION, delta_e DOUBLE PRECISION, PRIMARY KEY (comparison_id, position))",
};

// Schema version 2: the lab service's runs of jobs.
constexpr const char* kSchemaV2[] = {
    "CREATE TABLE job_runs (id {ID}, instrument TEXT NOT NULL, job TEXT NOT NULL, samples INTEGER "
    "NOT NULL, started TEXT NOT NULL, state TEXT NOT NULL, duration_ms BIGINT, record_id BIGINT "
    "REFERENCES measurements(id))",
    "CREATE INDEX job_runs_job ON job_runs(instrument, job, id)",
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

SqlValue Optional(const std::optional<double>& value) {
  if (!value) return std::monostate{};
  return *value;
}
SqlValue Optional(const std::optional<std::int64_t>& value) {
  if (!value) return std::monostate{};
  return *value;
}
SqlValue Optional(const std::optional<int>& value) {
  if (!value) return std::monostate{};
  return static_cast<std::int64_t>(*value);
}
std::optional<double> OptionalDouble(const SqlRow& row, std::size_t i) {
  if (row.IsNull(i)) return std::nullopt;
  return row.Double(i);
}
std::optional<std::int64_t> OptionalInt(const SqlRow& row, std::size_t i) {
  if (row.IsNull(i)) return std::nullopt;
  return row.Int(i);
}
std::optional<Lab3> OptionalLab(const SqlRow& row, std::size_t i) {
  if (row.IsNull(i) || row.IsNull(i + 1) || row.IsNull(i + 2)) return std::nullopt;
  return Lab3{row.Double(i), row.Double(i + 1), row.Double(i + 2)};
}

// A JSON array of numbers, each in the shortest text that reads back as the
// same value: as a float where the value is one (the protocol's spectra),
// else as a double.
template <typename Array>
std::string JsonNumbers(const Array& values) {
  std::string text = "[";
  char buffer[64];
  for (double value : values) {
    if (text.size() > 1) text += ',';
    if (!std::isfinite(value)) {
      text += "null";
      continue;
    }
    const float narrow = static_cast<float>(value);
    const auto end = static_cast<double>(narrow) == value
                         ? std::to_chars(buffer, buffer + sizeof buffer, narrow).ptr
                         : std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    text.append(buffer, end);
  }
  return text + "]";
}

// The numbers of a stored JSON array; nothing when it is not one (a
// damaged or hand-edited row is skipped, never trusted).
std::vector<double> NumbersFromJson(const std::string& text, std::size_t most) {
  std::vector<double> out;
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
  if (!parsed.is_array() || parsed.size() > most) return out;
  for (const auto& value : parsed) {
    if (value.is_null()) {
      out.push_back(std::nan(""));
    } else if (value.is_number()) {
      out.push_back(value.get<double>());
    } else {
      return {};
    }
  }
  return out;
}

// A transaction that rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(SqlConnection& db) : db_(db) {}
  ~Transaction() {
    if (open_) db_.Run("ROLLBACK", {});
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  StoreStatus Begin() {
    StoreStatus status = db_.BeginWrite();
    open_ = status.ok;
    return status;
  }
  StoreStatus Commit() {
    StoreStatus status = db_.Run("COMMIT", {});
    open_ = !status.ok;
    return status;
  }

 private:
  SqlConnection& db_;
  bool open_ = false;
};

class SqlStore final : public RecordStore {
 public:
  explicit SqlStore(std::unique_ptr<SqlConnection> db) : db_(std::move(db)) {}

  StoreStatus Migrate() {
    int version = 0;
    StoreStatus status = ReadVersion(version);
    if (!status.ok) return status;
    if (version == kSchemaVersion) return status;
    Transaction transaction(*db_);
    if (!(status = transaction.Begin()).ok) return status;
    if (db_->Kind() == Dialect::kPostgres) {
      // Two processes opening a new database at once create it once.
      if (!(status = Run("SELECT pg_advisory_xact_lock(7240918)", {})).ok) return status;
    }
    if (!(status = ReadVersion(version)).ok) return status;
    if (version > kSchemaVersion) {
      return StoreStatus::Error("the database has schema version " + std::to_string(version) +
                                ", newer than this program knows (" +
                                std::to_string(kSchemaVersion) +
                                "); it was left unchanged: use a newer vantorelctl");
    }
    if (version == 0) {
      if (!(status = CheckEmpty()).ok) return status;
      if (!(status = Run("CREATE TABLE schema_version (version INTEGER NOT NULL)", {})).ok)
        return status;
      if (!(status = Run("INSERT INTO schema_version (version) VALUES (0)", {})).ok) return status;
    }
    const bool sqlite = db_->Kind() == Dialect::kSqlite;
    const std::string id = sqlite ? "INTEGER PRIMARY KEY AUTOINCREMENT"
                                  : "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
    const std::string blob = sqlite ? "BLOB" : "BYTEA";
    const auto apply = [&](const auto& statements) {
      for (const char* statement : statements) {
        const std::string sql = Replace(Replace(statement, "{ID}", id), "{BLOB}", blob);
        if (!(status = Run(sql, {})).ok) return false;
      }
      return true;
    };
    if (version < 1 && !apply(kSchemaV1)) return status;
    if (version < 2 && !apply(kSchemaV2)) return status;
    if (!(status = Run("UPDATE schema_version SET version = ?",
                       {static_cast<std::int64_t>(kSchemaVersion)}))
             .ok)
      return status;
    return transaction.Commit();
  }

  StoreStatus AddMeasurement(MeasurementRecord& record) override {
    return AddMeasurementClaiming(record, std::nullopt);
  }

  // Adds the measurement; with `runId`, only when that run has no record
  // yet, and it becomes the run's record in the same transaction (record.id
  // stays 0 when the run had one already).
  StoreStatus AddMeasurementClaiming(MeasurementRecord& record, std::optional<std::int64_t> runId) {
    if (record.time.empty()) record.time = UtcNow();
    Transaction transaction(*db_);
    StoreStatus status = transaction.Begin();
    if (!status.ok) return status;
    if (runId) {
      SqlRows claimed;
      status = Run("SELECT record_id FROM job_runs WHERE id = ?", {*runId}, &claimed);
      if (!status.ok) return status;
      if (claimed.empty())
        return StoreStatus::Error("run " + std::to_string(*runId) + " is not recorded");
      if (!claimed.front().IsNull(0)) return StoreStatus::Ok();
    }
    std::int64_t id = 0;
    if (!(status = NewEntry("measurement", record.time, id)).ok) return status;
    status =
        Run("INSERT INTO measurements (id, operator, instrument, host, port, job, make, samples, "
            "sample_index) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {id, record.operatorName, record.instrument, record.host,
             static_cast<std::int64_t>(record.port), record.job, record.make,
             static_cast<std::int64_t>(record.sampleCount), Optional(record.sampleIndex)});
    if (!status.ok) return status;
    if (!(status = AddReadings(id, record.combined)).ok) return status;
    for (const SampleReading& sample : record.samples) {
      if (!(status = AddReadings(id, sample)).ok) return status;
    }
    std::int64_t position = 0;
    for (const GeometrySpread& spread : record.spread) {
      Params params = {id, position++, spread.geometry};
      for (const auto* values : {&spread.mean, &spread.stdev, &spread.range}) {
        for (const auto& value : *values) params.push_back(Optional(value));
      }
      status = Run(
          "INSERT INTO spreads (measurement_id, position, geometry, l_mean, a_mean, b_mean, "
          "l_stdev, a_stdev, b_stdev, l_range, a_range, b_range) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
          "?, ?, ?, ?)",
          params);
      if (!status.ok) return status;
    }
    if (!record.make.empty() && !(status = RememberMake(record.job, record.make)).ok) return status;
    if (runId) {
      SqlRows claimed;
      status =
          Run("UPDATE job_runs SET record_id = ? WHERE id = ? AND record_id IS NULL RETURNING id",
              {id, *runId}, &claimed);
      if (!status.ok) return status;
      if (claimed.empty()) return StoreStatus::Ok();  // rolled back: another one was first
    }
    if (!(status = transaction.Commit()).ok) return status;
    record.id = id;
    return status;
  }

  Found<MeasurementRecord> Measurement(std::int64_t id) override {
    Found<MeasurementRecord> found;
    SqlRows rows;
    found.status =
        Run("SELECT e.time, m.operator, m.instrument, m.host, m.port, m.job, m.make, m.samples, "
            "m.sample_index FROM measurements m JOIN entries e ON e.id = m.id WHERE m.id = ?",
            {id}, &rows);
    if (!found.status.ok || rows.empty()) return found;
    const SqlRow& row = rows.front();
    MeasurementRecord record;
    record.id = id;
    record.time = row.Text(0);
    record.operatorName = row.Text(1);
    record.instrument = row.Text(2);
    record.host = row.Text(3);
    record.port = static_cast<int>(row.Int(4));
    record.job = row.Text(5);
    record.make = row.Text(6);
    record.sampleCount = static_cast<int>(row.Int(7));
    if (!row.IsNull(8)) record.sampleIndex = static_cast<int>(row.Int(8));

    SqlRows readings;
    found.status = Run(
        "SELECT sample, geometry, l, a, b, spectrum, texture FROM readings WHERE measurement_id = "
        "? ORDER BY sample, position",
        {id}, &readings);
    if (!found.status.ok) return found;
    SqlRows images;
    found.status =
        Run("SELECT sample, geometry, exr FROM images WHERE measurement_id = ?", {id}, &images);
    if (!found.status.ok) return found;
    std::map<std::pair<std::int64_t, std::string>, std::vector<std::uint8_t>> exr;
    for (const SqlRow& image : images) exr[{image.Int(0), image.Text(1)}] = image.Blob(2);

    std::map<std::int64_t, SampleReading> samples;
    for (const SqlRow& reading : readings) {
      SampleReading& sample = samples[reading.Int(0)];
      sample.index = static_cast<int>(reading.Int(0));
      GeometryReading geometry;
      geometry.geometry = reading.Text(1);
      geometry.lab = OptionalLab(reading, 2);
      if (!reading.IsNull(5)) geometry.spectrum = NumbersFromJson(reading.Text(5), 1024);
      if (!reading.IsNull(6)) {
        const std::vector<double> texture = NumbersFromJson(reading.Text(6), 7);
        if (texture.size() == 7) {
          geometry.texture.emplace();
          std::copy(texture.begin(), texture.end(), geometry.texture->begin());
        }
      }
      const auto image = exr.find({reading.Int(0), geometry.geometry});
      if (image != exr.end()) geometry.exr = std::move(image->second);
      sample.geometries.push_back(std::move(geometry));
    }
    for (auto& [index, sample] : samples) {
      if (index < 0) {
        record.combined = std::move(sample);
      } else {
        record.samples.push_back(std::move(sample));
      }
    }
    SqlRows spreads;
    found.status =
        Run("SELECT geometry, l_mean, a_mean, b_mean, l_stdev, a_stdev, b_stdev, l_range, a_range, "
            "b_range FROM spreads WHERE measurement_id = ? ORDER BY position",
            {id}, &spreads);
    if (!found.status.ok) return found;
    for (const SqlRow& spreadRow : spreads) {
      GeometrySpread spread;
      spread.geometry = spreadRow.Text(0);
      for (std::size_t c = 0; c < 3; ++c) {
        spread.mean[c] = OptionalDouble(spreadRow, 1 + c);
        spread.stdev[c] = OptionalDouble(spreadRow, 4 + c);
        spread.range[c] = OptionalDouble(spreadRow, 7 + c);
      }
      record.spread.push_back(std::move(spread));
    }
    found.value = std::move(record);
    return found;
  }

  Found<std::vector<HistoryEntry>> History(const HistoryQuery& query) override {
    Found<std::vector<HistoryEntry>> found;
    std::string sql =
        "SELECT m.id, e.time, m.operator, m.instrument, m.job, m.make, m.samples FROM measurements "
        "m JOIN entries e ON e.id = m.id WHERE 1 = 1";
    Params params;
    if (query.job) {
      sql += " AND m.job = ?";
      params.push_back(*query.job);
    }
    if (query.since) {
      sql += " AND e.time >= ?";
      params.push_back(*query.since);
    }
    if (query.standard) {
      sql +=
          " AND m.id IN (SELECT c.batch_record FROM comparisons c JOIN standards s ON s.id = "
          "c.standard_id WHERE s.name = ?)";
      params.push_back(*query.standard);
    }
    sql += " ORDER BY m.id DESC LIMIT ?";
    params.push_back(static_cast<std::int64_t>(query.limit));
    SqlRows rows;
    found.status = Run(sql, params, &rows);
    if (!found.status.ok) return found;
    std::vector<HistoryEntry> entries;
    std::map<std::int64_t, std::size_t> byId;
    for (const SqlRow& row : rows) {
      HistoryEntry entry;
      entry.id = row.Int(0);
      entry.time = row.Text(1);
      entry.operatorName = row.Text(2);
      entry.instrument = row.Text(3);
      entry.job = row.Text(4);
      entry.make = row.Text(5);
      entry.samples = static_cast<int>(row.Int(6));
      byId[entry.id] = entries.size();
      entries.push_back(std::move(entry));
    }
    if (!entries.empty()) {
      SqlRows verdicts;
      found.status =
          Run("SELECT c.batch_record, c.id, s.name, s.version, c.passed, c.standard_source FROM "
              "comparisons c LEFT JOIN standards s ON s.id = c.standard_id WHERE c.batch_record "
              "BETWEEN ? AND ? ORDER BY c.id",
              {entries.back().id, entries.front().id}, &verdicts);
      if (!found.status.ok) return found;
      for (const SqlRow& row : verdicts) {
        const auto entry = byId.find(row.Int(0));
        if (entry == byId.end()) continue;
        ComparisonVerdict verdict;
        verdict.id = row.Int(1);
        verdict.standard = row.IsNull(2) ? row.Text(5) : row.Text(2);
        if (!row.IsNull(3)) verdict.version = static_cast<int>(row.Int(3));
        verdict.passed = row.Int(4) != 0;
        entries[entry->second].comparisons.push_back(std::move(verdict));
      }
    }
    found.value = std::move(entries);
    return found;
  }

  Found<EntryKind> KindOf(std::int64_t id) override {
    Found<EntryKind> found;
    SqlRows rows;
    found.status = Run("SELECT kind FROM entries WHERE id = ?", {id}, &rows);
    if (!found.status.ok) return found;
    if (rows.empty()) {
      found.value = EntryKind::kNone;
    } else {
      found.value =
          rows.front().Text(0) == "comparison" ? EntryKind::kComparison : EntryKind::kMeasurement;
    }
    return found;
  }

  StoreStatus RememberMake(const std::string& job, const std::string& make) override {
    return Run(
        "INSERT INTO job_makes (job, make) VALUES (?, ?) ON CONFLICT (job) DO UPDATE SET make = "
        "excluded.make",
        {job, make});
  }

  Found<std::string> RememberedMake(const std::string& job) override {
    Found<std::string> found;
    SqlRows rows;
    found.status = Run("SELECT make FROM job_makes WHERE job = ?", {job}, &rows);
    if (found.status.ok && !rows.empty()) found.value = rows.front().Text(0);
    return found;
  }

  StoreStatus AddStandard(StandardRecord& standard) override {
    if (standard.time.empty()) standard.time = UtcNow();
    Transaction transaction(*db_);
    StoreStatus status = transaction.Begin();
    if (!status.ok) return status;
    SqlRows rows;
    status = Run("SELECT COALESCE(MAX(version), 0) FROM standards WHERE name = ?", {standard.name},
                 &rows);
    if (!status.ok) return status;
    const int version = static_cast<int>((rows.empty() ? 0 : rows.front().Int(0)) + 1);
    rows.clear();
    status =
        Run("INSERT INTO standards (name, version, time, source, source_record, formula, note, "
            "removed) VALUES (?, ?, ?, ?, ?, ?, ?, 0) RETURNING id",
            {standard.name, static_cast<std::int64_t>(version), standard.time, standard.source,
             Optional(standard.sourceRecord), standard.formula, standard.note},
            &rows);
    if (!status.ok) return status;
    if (rows.empty()) return StoreStatus::Error("the database gave the new standard no id");
    const std::int64_t id = rows.front().Int(0);
    std::int64_t position = 0;
    for (const GeometryLab& value : standard.values) {
      status = Run(
          "INSERT INTO standard_values (standard_id, position, geometry, l, a, b) VALUES (?, ?, "
          "?, ?, ?, ?)",
          {id, position++, value.geometry, value.lab[0], value.lab[1], value.lab[2]});
      if (!status.ok) return status;
    }
    for (const GeometryTolerance& tolerance : standard.tolerances) {
      status =
          Run("INSERT INTO standard_tolerances (standard_id, geometry, tolerance) VALUES (?, ?, ?)",
              {id, tolerance.geometry, tolerance.tolerance});
      if (!status.ok) return status;
    }
    if (!(status = transaction.Commit()).ok) return status;
    standard.id = id;
    standard.version = version;
    standard.removed = false;
    return status;
  }

  Found<StandardRecord> Standard(const std::string& name, std::optional<int> version) override {
    if (version) {
      return OneStandard("WHERE name = ? AND version = ?",
                         {name, static_cast<std::int64_t>(*version)});
    }
    return OneStandard("WHERE name = ? AND removed = 0 ORDER BY version DESC LIMIT 1", {name});
  }

  Found<StandardRecord> StandardById(std::int64_t id) override {
    return OneStandard("WHERE id = ?", {id});
  }

  Found<std::vector<StandardRecord>> Standards() override {
    return SomeStandards(
        "WHERE removed = 0 AND version = (SELECT MAX(version) FROM standards t WHERE t.name = "
        "standards.name) ORDER BY name",
        {});
  }

  Found<std::vector<StandardRecord>> StandardVersions(const std::string& name) override {
    return SomeStandards("WHERE name = ? ORDER BY version", {name});
  }

  Found<bool> RemoveStandard(const std::string& name) override {
    Found<bool> found;
    Transaction transaction(*db_);
    if (!(found.status = transaction.Begin()).ok) return found;
    SqlRows rows;
    found.status =
        Run("SELECT COUNT(*) FROM standards WHERE name = ? AND removed = 0", {name}, &rows);
    if (!found.status.ok) return found;
    const bool visible = !rows.empty() && rows.front().Int(0) > 0;
    if (visible) {
      found.status = Run("UPDATE standards SET removed = 1 WHERE name = ?", {name});
      if (!found.status.ok) return found;
    }
    found.status = transaction.Commit();
    if (found.status.ok) found.value = visible;
    return found;
  }

  StoreStatus AddComparison(ComparisonRecord& comparison) override {
    if (comparison.time.empty()) comparison.time = UtcNow();
    Transaction transaction(*db_);
    StoreStatus status = transaction.Begin();
    if (!status.ok) return status;
    std::int64_t id = 0;
    if (!(status = NewEntry("comparison", comparison.time, id)).ok) return status;
    status =
        Run("INSERT INTO comparisons (id, operator, instrument, standard_id, standard_source, "
            "batch_record, batch_source, formula, overrides, passed, standard_flop, batch_flop) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {id, comparison.operatorName, comparison.instrument, Optional(comparison.standardId),
             comparison.standardSource, Optional(comparison.batchRecord), comparison.batchSource,
             comparison.formula, comparison.overrides.empty() ? "{}" : comparison.overrides,
             static_cast<std::int64_t>(comparison.passed ? 1 : 0),
             Optional(comparison.standardFlop), Optional(comparison.batchFlop)});
    if (!status.ok) return status;
    std::int64_t position = 0;
    for (const ComparisonRowRecord& row : comparison.rows) {
      Params params = {id, position++, row.geometry, row.status, row.tolerance};
      for (const auto* lab : {&row.standardLab, &row.batchLab}) {
        for (std::size_t c = 0; c < 3; ++c) {
          params.push_back(*lab ? SqlValue((**lab)[c]) : SqlValue(std::monostate{}));
        }
      }
      for (const auto* value : {&row.dL, &row.da, &row.db, &row.dC, &row.dH, &row.deltaE}) {
        params.push_back(Optional(*value));
      }
      status =
          Run("INSERT INTO comparison_rows (comparison_id, position, geometry, status, tolerance, "
              "std_l, std_a, std_b, batch_l, batch_a, batch_b, dl, da, db, dc, dh, delta_e) VALUES "
              "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
              params);
      if (!status.ok) return status;
    }
    if (!(status = transaction.Commit()).ok) return status;
    comparison.id = id;
    return status;
  }

  Found<ComparisonRecord> Comparison(std::int64_t id) override {
    Found<ComparisonRecord> found;
    SqlRows rows;
    found.status = Run(
        "SELECT e.time, c.operator, c.instrument, c.standard_id, s.name, s.version, "
        "c.standard_source, c.batch_record, c.batch_source, c.formula, c.overrides, c.passed, "
        "c.standard_flop, c.batch_flop FROM comparisons c JOIN entries e ON e.id = c.id LEFT JOIN "
        "standards s ON s.id = c.standard_id WHERE c.id = ?",
        {id}, &rows);
    if (!found.status.ok || rows.empty()) return found;
    const SqlRow& row = rows.front();
    ComparisonRecord comparison;
    comparison.id = id;
    comparison.time = row.Text(0);
    comparison.operatorName = row.Text(1);
    comparison.instrument = row.Text(2);
    comparison.standardId = OptionalInt(row, 3);
    comparison.standardName = row.Text(4);
    if (!row.IsNull(5)) comparison.standardVersion = static_cast<int>(row.Int(5));
    comparison.standardSource = row.Text(6);
    comparison.batchRecord = OptionalInt(row, 7);
    comparison.batchSource = row.Text(8);
    comparison.formula = row.Text(9);
    comparison.overrides = row.Text(10);
    comparison.passed = row.Int(11) != 0;
    comparison.standardFlop = OptionalDouble(row, 12);
    comparison.batchFlop = OptionalDouble(row, 13);
    SqlRows lines;
    found.status = Run(
        "SELECT geometry, status, tolerance, std_l, std_a, std_b, batch_l, batch_a, batch_b, dl, "
        "da, db, dc, dh, delta_e FROM comparison_rows WHERE comparison_id = ? ORDER BY position",
        {id}, &lines);
    if (!found.status.ok) return found;
    for (const SqlRow& line : lines) {
      ComparisonRowRecord entry;
      entry.geometry = line.Text(0);
      entry.status = line.Text(1);
      entry.tolerance = line.Double(2);
      entry.standardLab = OptionalLab(line, 3);
      entry.batchLab = OptionalLab(line, 6);
      std::optional<double>* values[] = {&entry.dL, &entry.da, &entry.db,
                                         &entry.dC, &entry.dH, &entry.deltaE};
      for (std::size_t k = 0; k < 6; ++k) *values[k] = OptionalDouble(line, 9 + k);
      comparison.rows.push_back(std::move(entry));
    }
    found.value = std::move(comparison);
    return found;
  }

  Found<std::vector<TrendPoint>> Trend(const std::string& name,
                                       const std::optional<std::string>& since) override {
    Found<std::vector<TrendPoint>> found;
    const std::string where = std::string(" WHERE s.name = ?") + (since ? " AND e.time >= ?" : "");
    Params params = {name};
    if (since) params.push_back(*since);
    SqlRows rows;
    found.status =
        Run("SELECT c.id, e.time, s.version, c.batch_record, c.batch_source, m.job, c.passed FROM "
            "comparisons c JOIN entries e ON e.id = c.id JOIN standards s ON s.id = c.standard_id "
            "LEFT JOIN measurements m ON m.id = c.batch_record" +
                where + " ORDER BY c.id",
            params, &rows);
    if (!found.status.ok) return found;
    std::vector<TrendPoint> points;
    std::map<std::int64_t, std::size_t> byId;
    for (const SqlRow& row : rows) {
      TrendPoint point;
      point.comparison = row.Int(0);
      point.time = row.Text(1);
      point.version = static_cast<int>(row.Int(2));
      point.batchRecord = OptionalInt(row, 3);
      point.batchSource = row.Text(4);
      point.job = row.Text(5);
      point.passed = row.Int(6) != 0;
      byId[point.comparison] = points.size();
      points.push_back(std::move(point));
    }
    SqlRows values;
    found.status = Run(
        "SELECT r.comparison_id, r.geometry, r.delta_e, r.tolerance, r.status FROM "
        "comparison_rows r JOIN comparisons c ON c.id = r.comparison_id JOIN entries e ON e.id = "
        "c.id JOIN standards s ON s.id = c.standard_id" +
            where + " ORDER BY r.comparison_id, r.position",
        params, &values);
    if (!found.status.ok) return found;
    for (const SqlRow& row : values) {
      const auto point = byId.find(row.Int(0));
      if (point == byId.end()) continue;
      points[point->second].values.push_back(
          {row.Text(1), OptionalDouble(row, 2), row.Double(3), row.Text(4)});
    }
    found.value = std::move(points);
    return found;
  }

  Found<bool> StartRun(RunRecord& run, bool unlessMeasuring) override {
    Found<bool> found;
    if (run.started.empty()) run.started = UtcNow();
    Transaction transaction(*db_);
    if (!(found.status = transaction.Begin()).ok) return found;
    if (db_->Kind() == Dialect::kPostgres) {
      // Two services noticing the same run at once add it once (SQLite's
      // writer lock, taken by Begin, does the same there).
      found.status =
          Run("SELECT pg_advisory_xact_lock(hashtext(?))", {run.instrument + "\n" + run.job});
      if (!found.status.ok) return found;
    }
    Found<RunRecord> latest = LatestRun(run.instrument, run.job);
    if (!(found.status = latest.status).ok) return found;
    if (latest.value && latest.value->state == "measuring") {
      if (unlessMeasuring) {
        found.value = false;
        return found;
      }
      found.status = Run("UPDATE job_runs SET state = 'stopped' WHERE id = ?", {latest.value->id});
      if (!found.status.ok) return found;
    }
    SqlRows rows;
    found.status = Run(
        "INSERT INTO job_runs (instrument, job, samples, started, state) VALUES (?, ?, ?, ?, ?) "
        "RETURNING id",
        {run.instrument, run.job, static_cast<std::int64_t>(run.samples), run.started, run.state},
        &rows);
    if (!found.status.ok) return found;
    if (rows.empty()) {
      found.status = StoreStatus::Error("the database gave no id");
      return found;
    }
    if (!(found.status = transaction.Commit()).ok) return found;
    run.id = rows.front().Int(0);
    found.value = true;
    return found;
  }

  StoreStatus FinishRun(const std::string& instrument, const std::string& job,
                        const std::string& state, std::optional<std::int64_t> durationMs) override {
    return Run(
        "UPDATE job_runs SET state = ?, duration_ms = ? WHERE id = (SELECT MAX(id) FROM job_runs "
        "WHERE instrument = ? AND job = ?) AND state = 'measuring'",
        {state, Optional(durationMs), instrument, job});
  }

  Found<RunRecord> LatestRun(const std::string& instrument, const std::string& job) override {
    Found<RunRecord> found;
    SqlRows rows;
    found.status =
        Run("SELECT id, samples, started, state, duration_ms, record_id FROM job_runs WHERE "
            "instrument = ? AND job = ? ORDER BY id DESC LIMIT 1",
            {instrument, job}, &rows);
    if (!found.status.ok || rows.empty()) return found;
    const SqlRow& row = rows.front();
    RunRecord run;
    run.id = row.Int(0);
    run.instrument = instrument;
    run.job = job;
    run.samples = static_cast<int>(row.Int(1));
    run.started = row.Text(2);
    run.state = row.Text(3);
    run.durationMs = OptionalInt(row, 4);
    run.record = OptionalInt(row, 5);
    found.value = std::move(run);
    return found;
  }

  Found<std::vector<std::int64_t>> RunDurations(const std::string& instrument, int samples,
                                                int limit) override {
    Found<std::vector<std::int64_t>> found;
    SqlRows rows;
    found.status = Run(
        "SELECT duration_ms FROM job_runs WHERE instrument = ? AND samples = ? AND state = "
        "'measured' AND duration_ms IS NOT NULL ORDER BY id DESC LIMIT ?",
        {instrument, static_cast<std::int64_t>(samples), static_cast<std::int64_t>(limit)}, &rows);
    if (!found.status.ok) return found;
    std::vector<std::int64_t> durations;
    for (const SqlRow& row : rows) durations.push_back(row.Int(0));
    found.value = std::move(durations);
    return found;
  }

  Found<std::int64_t> RecordRun(std::int64_t runId, MeasurementRecord& record) override {
    Found<std::int64_t> found;
    // The measurement and its claim on the run commit together; a second
    // service that recorded the same run first wins, and this one's
    // measurement is rolled back.
    MeasurementRecord added = record;
    found.status = AddMeasurementClaiming(added, runId);
    if (!found.status.ok) return found;
    if (added.id != 0) {
      record.id = added.id;
      found.value = added.id;
      return found;
    }
    SqlRows rows;
    found.status = Run("SELECT record_id FROM job_runs WHERE id = ?", {runId}, &rows);
    if (found.status.ok && !rows.empty()) found.value = OptionalInt(rows.front(), 0);
    return found;
  }

 private:
  StoreStatus Run(const std::string& sql, const Params& params, SqlRows* rows = nullptr) {
    return db_->Run(sql, params, rows);
  }

  StoreStatus ReadVersion(int& version) {
    SqlRows rows;
    StoreStatus status =
        db_->Kind() == Dialect::kSqlite
            ? Run("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = "
                  "'schema_version'",
                  {}, &rows)
            : Run("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = "
                  "current_schema() AND table_name = 'schema_version'",
                  {}, &rows);
    if (!status.ok) return status;
    version = 0;
    if (rows.empty() || rows.front().Int(0) == 0) return status;
    rows.clear();
    if (!(status = Run("SELECT MAX(version) FROM schema_version", {}, &rows)).ok) return status;
    if (!rows.empty()) version = static_cast<int>(rows.front().Int(0));
    return status;
  }

  // A new SQLite file is created empty; one that already holds other
  // tables is not ours to change.
  StoreStatus CheckEmpty() {
    if (db_->Kind() != Dialect::kSqlite) return StoreStatus::Ok();
    SqlRows rows;
    StoreStatus status = Run("SELECT COUNT(*) FROM sqlite_master", {}, &rows);
    if (status.ok && !rows.empty() && rows.front().Int(0) > 0) {
      return StoreStatus::Error(
          "the file is an SQLite database of something else (it holds tables but no "
          "schema_version); it was left unchanged");
    }
    return status;
  }

  StoreStatus NewEntry(const char* kind, const std::string& time, std::int64_t& id) {
    SqlRows rows;
    StoreStatus status =
        Run("INSERT INTO entries (kind, time) VALUES (?, ?) RETURNING id", {kind, time}, &rows);
    if (status.ok && rows.empty()) return StoreStatus::Error("the database gave no id");
    if (status.ok) id = rows.front().Int(0);
    return status;
  }

  StoreStatus AddReadings(std::int64_t id, const SampleReading& sample) {
    std::int64_t position = 0;
    for (const GeometryReading& geometry : sample.geometries) {
      Params params = {id, static_cast<std::int64_t>(sample.index), position++, geometry.geometry};
      for (std::size_t c = 0; c < 3; ++c) {
        params.push_back(geometry.lab ? SqlValue((*geometry.lab)[c]) : SqlValue(std::monostate{}));
      }
      params.push_back(geometry.spectrum.empty() ? SqlValue(std::monostate{})
                                                 : SqlValue(JsonNumbers(geometry.spectrum)));
      params.push_back(geometry.texture ? SqlValue(JsonNumbers(*geometry.texture))
                                        : SqlValue(std::monostate{}));
      StoreStatus status = Run(
          "INSERT INTO readings (measurement_id, sample, position, geometry, l, a, b, spectrum, "
          "texture) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
          params);
      if (!status.ok) return status;
      if (!geometry.exr.empty()) {
        status = Run(
            "INSERT INTO images (measurement_id, sample, geometry, exr) VALUES (?, ?, ?, ?)",
            {id, static_cast<std::int64_t>(sample.index), geometry.geometry, Bytes{geometry.exr}});
        if (!status.ok) return status;
      }
    }
    return StoreStatus::Ok();
  }

  static constexpr const char* kStandardColumns =
      "SELECT id, name, version, time, source, source_record, formula, note, removed FROM "
      "standards ";

  Found<std::vector<StandardRecord>> SomeStandards(const std::string& where, const Params& params) {
    Found<std::vector<StandardRecord>> found;
    SqlRows rows;
    found.status = Run(kStandardColumns + where, params, &rows);
    if (!found.status.ok) return found;
    std::vector<StandardRecord> standards;
    for (const SqlRow& row : rows) {
      StandardRecord standard;
      standard.id = row.Int(0);
      standard.name = row.Text(1);
      standard.version = static_cast<int>(row.Int(2));
      standard.time = row.Text(3);
      standard.source = row.Text(4);
      standard.sourceRecord = OptionalInt(row, 5);
      standard.formula = row.Text(6);
      standard.note = row.Text(7);
      standard.removed = row.Int(8) != 0;
      SqlRows values;
      found.status = Run(
          "SELECT geometry, l, a, b FROM standard_values WHERE standard_id = ? ORDER BY position",
          {standard.id}, &values);
      if (!found.status.ok) return found;
      for (const SqlRow& value : values) {
        standard.values.push_back(
            {value.Text(0), {value.Double(1), value.Double(2), value.Double(3)}});
      }
      SqlRows tolerances;
      found.status =
          Run("SELECT geometry, tolerance FROM standard_tolerances WHERE standard_id = ? ORDER BY "
              "geometry",
              {standard.id}, &tolerances);
      if (!found.status.ok) return found;
      for (const SqlRow& tolerance : tolerances) {
        standard.tolerances.push_back({tolerance.Text(0), tolerance.Double(1)});
      }
      standards.push_back(std::move(standard));
    }
    found.value = std::move(standards);
    return found;
  }

  Found<StandardRecord> OneStandard(const std::string& where, const Params& params) {
    Found<StandardRecord> found;
    Found<std::vector<StandardRecord>> some = SomeStandards(where, params);
    found.status = some.status;
    if (some.value && !some.value->empty()) found.value = std::move(some.value->front());
    return found;
  }

  std::unique_ptr<SqlConnection> db_;
};

}  // namespace

std::unique_ptr<RecordStore> RecordStore::Open(std::unique_ptr<SqlConnection> connection,
                                               StoreStatus& status) {
  if (!connection) {
    status = StoreStatus::Error("no database connection");
    return nullptr;
  }
  auto store = std::make_unique<SqlStore>(std::move(connection));
  status = store->Migrate();
  if (!status.ok) return nullptr;
  return store;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace vantorel::records
