// StoreLocation: which database a --db value (or VANTOREL_DB) names, and
// opening it.
//
//   sqlite:PATH                           an SQLite file
//   postgresql://USER@HOST:PORT/DBNAME    a PostgreSQL database (libpq's URI;
//   postgres://...                        a password in it is refused: it
//                                         comes from PGPASSWORD or ~/.pgpass)
//   anything else                         a path to an SQLite file
//   (nothing)                             the user's data folder: lab.db in
//                                         $XDG_DATA_HOME/vantorel, else
//                                         ~/.local/share/vantorel; on Windows
//                                         %LOCALAPPDATA%\Vantorel
//
// Threads: pure functions, and Open() as RecordStore::Open.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "client/records/RecordStore.h"

namespace vantorel::records {

struct StoreLocation {
  enum class Kind { kSqlite, kPostgres } kind = Kind::kSqlite;
  std::string target;   // the SQLite path (UTF-8) or the libpq URI
  std::string display;  // what messages name: the path, or the URI
};

using Environment = std::function<std::optional<std::string>(const std::string&)>;

// Parses `value` (empty: the default location from `environment`). A URI
// with a password, or no usable default folder, is an error in `error`.
std::optional<StoreLocation> ParseStoreLocation(const std::string& value,
                                                const Environment& environment, std::string& error);

// Opens (creating an SQLite file and its folder on first use) and brings the
// schema up to date. Null with the reason in `status` when it cannot.
std::unique_ptr<RecordStore> OpenStore(const StoreLocation& location, StoreStatus& status);

// Whether this build can open PostgreSQL databases.
bool PostgresAvailable();

// The PostgreSQL back end (PgConnection.cpp, or a stub saying it is not
// built in); null with the reason in `status` when it cannot connect.
std::unique_ptr<SqlConnection> ConnectPostgres(const std::string& uri, StoreStatus& status);
// The SQLite back end (SqliteConnection.cpp): WAL mode, a busy time-out.
std::unique_ptr<SqlConnection> OpenSqlite(const std::string& pathUtf8, StoreStatus& status);

}  // namespace vantorel::records
