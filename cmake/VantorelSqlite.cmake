# vantorel_sqlite: the SQLite library the record store links. Native builds
# use Debian's libsqlite3-dev.
if(NOT TARGET vantorel_sqlite)
  find_package(SQLite3 REQUIRED)
  add_library(vantorel_sqlite INTERFACE)
  target_link_libraries(vantorel_sqlite INTERFACE SQLite::SQLite3)
endif()
