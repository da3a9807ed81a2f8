// The SQLite back end: one file, WAL mode so that readers never wait for a
// writer, and a busy time-out so that several processes writing at once
// queue instead of failing with "database is locked".
#include <sqlite3.h>

#include <cstring>
#include <limits>

#include "client/records/StoreLocation.h"

namespace vantorel::records {
namespace {

constexpr int kBusyTimeoutMs = 30000;

class SqliteConnection final : public SqlConnection {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}
  ~SqliteConnection() override { sqlite3_close_v2(db_); }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  Dialect Kind() const override { return Dialect::kSqlite; }

  StoreStatus Run(std::string_view sql, const std::vector<SqlValue>& params,
                  SqlRows* rows) override {
    if (sql.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      return StoreStatus::Error("statement too long");
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
      return Failure("cannot prepare a statement");
    }
    Statement guard{statement};
    if (static_cast<std::size_t>(sqlite3_bind_parameter_count(statement)) != params.size()) {
      return StoreStatus::Error("internal: statement parameters do not match");
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (!Bind(statement, static_cast<int>(i + 1), params[i])) return Failure("cannot bind");
    }
    for (;;) {
      const int step = sqlite3_step(statement);
      if (step == SQLITE_DONE) return StoreStatus::Ok();
      if (step != SQLITE_ROW) return Failure("cannot run a statement");
      if (rows == nullptr) continue;
      SqlRow row;
      const int columns = sqlite3_column_count(statement);
      row.cells.reserve(static_cast<std::size_t>(columns));
      for (int c = 0; c < columns; ++c) row.cells.push_back(Cell(statement, c));
      rows->push_back(std::move(row));
    }
  }

  StoreStatus BeginWrite() override { return Run("BEGIN IMMEDIATE", {}, nullptr); }

 private:
  struct Statement {
    sqlite3_stmt* statement;
    ~Statement() { sqlite3_finalize(statement); }
  };

  StoreStatus Failure(const char* what) const {
    return StoreStatus::Error(std::string(what) + ": " + sqlite3_errmsg(db_));
  }

  static bool Bind(sqlite3_stmt* statement, int index, const SqlValue& value) {
    int rc = SQLITE_OK;
    if (std::holds_alternative<std::monostate>(value)) {
      rc = sqlite3_bind_null(statement, index);
    } else if (const auto* integer = std::get_if<std::int64_t>(&value)) {
      rc = sqlite3_bind_int64(statement, index, *integer);
    } else if (const auto* real = std::get_if<double>(&value)) {
      rc = sqlite3_bind_double(statement, index, *real);
    } else if (const auto* text = std::get_if<std::string>(&value)) {
      rc = sqlite3_bind_text64(statement, index, text->data(), text->size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8);
    } else if (const auto* bytes = std::get_if<Bytes>(&value)) {
      rc = sqlite3_bind_blob64(statement, index, bytes->data.data(), bytes->data.size(),
                               SQLITE_TRANSIENT);
    }
    return rc == SQLITE_OK;
  }

  static SqlValue Cell(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
      case SQLITE_INTEGER:
        return static_cast<std::int64_t>(sqlite3_column_int64(statement, column));
      case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
      case SQLITE_TEXT: {
        const auto* text = sqlite3_column_text(statement, column);
        const int size = sqlite3_column_bytes(statement, column);
        return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
      }
      case SQLITE_BLOB: {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
        const int size = sqlite3_column_bytes(statement, column);
        Bytes bytes;
        if (data != nullptr && size > 0) bytes.data.assign(data, data + size);
        return bytes;
      }
      default:
        return std::monostate{};
    }
  }

  sqlite3* db_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& pathUtf8, StoreStatus& status) {
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(pathUtf8.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    status = StoreStatus::Error(std::string("cannot open the database: ") +
                                (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  // Double-quoted text is an identifier, never a string, whichever SQLite
  // version the build links.
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  auto connection = std::make_unique<SqliteConnection>(db);
  // WAL lets readers go on while one process writes; a file that is not a
  // database fails here, before anything is written.
  SqlRows mode;
  status = connection->Run("PRAGMA journal_mode=WAL", {}, &mode);
  if (status.ok) status = connection->Run("PRAGMA foreign_keys=ON", {}, nullptr);
  if (status.ok) status = connection->Run("PRAGMA synchronous=NORMAL", {}, nullptr);
  if (!status.ok) return nullptr;
  return connection;
}

}  // namespace vantorel::records
