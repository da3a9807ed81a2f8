// The PostgreSQL back end where this build has no libpq (the Windows build).
#include "client/records/StoreLocation.h"

namespace vantorel::records {

bool PostgresAvailable() { return false; }

std::unique_ptr<SqlConnection> ConnectPostgres(const std::string&, StoreStatus& status) {
  status = StoreStatus::Error(
      "this build of vantorelctl has no PostgreSQL support (it is built on Linux only); "
      "use an SQLite file with --db PATH");
  return nullptr;
}

}  // namespace vantorel::records
