// Stores for the record-store suites: a fresh SQLite file in a folder of
// its own, or a fresh schema in the PostgreSQL test server named by
// VANTOREL_TEST_POSTGRES_URI_FILE (a file holding its URI).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "client/records/StoreLocation.h"

namespace vantorel::records::testing {

enum class Backend { kSqlite, kPostgres };

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSqlite ? "Sqlite" : "Postgres";
}

// The test server's URI, or empty when none was started.
inline std::string PostgresUri() {
  const char* file = std::getenv("VANTOREL_TEST_POSTGRES_URI_FILE");
  if (file == nullptr) return {};
  std::ifstream in(file);
  std::string uri;
  std::getline(in, uri);
  return uri;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("vantorel-records-" + std::to_string(std::random_device{}()) + "-" +
             std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A connection to a fresh, empty database of the backend: an SQLite file in
// `folder`, or a schema of its own on the PostgreSQL test server. Skips the
// test when the server is not there.
inline std::unique_ptr<SqlConnection> FreshConnection(Backend backend, const ScratchFolder& folder,
                                                      const std::string& schema,
                                                      StoreStatus& status) {
  if (backend == Backend::kSqlite) {
    return OpenSqlite((folder.Path() / "lab.db").string(), status);
  }
  auto connection = ConnectPostgres(PostgresUri(), status);
  if (!connection) return nullptr;
  status = connection->Run("DROP SCHEMA IF EXISTS " + schema + " CASCADE", {});
  if (status.ok) status = connection->Run("CREATE SCHEMA " + schema, {});
  if (status.ok) status = connection->Run("SET search_path TO " + schema, {});
  return connection;
}

}  // namespace vantorel::records::testing
