// SqlConnection: the little a record store needs of a SQL database, so that
// one store (SqlStore) runs on SQLite and on PostgreSQL alike: run one
// statement with `?` placeholders and typed parameters, get typed cells
// back. Each back end maps its own types onto SqlValue: integers, doubles
// (kept exactly), UTF-8 text, bytes and NULL.
//
// Threads: a connection belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantorel::records {

struct Bytes {
  std::vector<std::uint8_t> data;
};

using SqlValue = std::variant<std::monostate, std::int64_t, double, std::string, Bytes>;

// Outcome of a database call: ok, or a sentence saying what failed.
struct StoreStatus {
  bool ok = true;
  std::string message;

  static StoreStatus Ok() { return {}; }
  static StoreStatus Error(std::string text) { return {false, std::move(text)}; }
};

struct SqlRow {
  std::vector<SqlValue> cells;

  bool IsNull(std::size_t i) const;
  // The cell as that type; a NULL or a cell of another kind gives the
  // fallback (an integer cell gives its value as a double).
  std::int64_t Int(std::size_t i, std::int64_t fallback = 0) const;
  double Double(std::size_t i, double fallback = 0.0) const;
  std::string Text(std::size_t i) const;
  std::vector<std::uint8_t> Blob(std::size_t i) const;
};

using SqlRows = std::vector<SqlRow>;

enum class Dialect { kSqlite, kPostgres };

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;

  virtual Dialect Kind() const = 0;
  // Runs one statement; `?` marks each parameter in order. Result rows, if
  // any, are appended to `rows` when it is given.
  virtual StoreStatus Run(std::string_view sql, const std::vector<SqlValue>& params,
                          SqlRows* rows = nullptr) = 0;
  // Begins a transaction that will write (SQLite: BEGIN IMMEDIATE, so that
  // two writers queue on the busy time-out instead of failing later).
  virtual StoreStatus BeginWrite() = 0;
};

}  // namespace vantorel::records
