# vantorel_sqlite: the SQLite library the record store links. Native builds
# use Debian's libsqlite3-dev. Windows (cross) builds compile SQLite 3.53.0
# from its amalgamation into a static library, so no program of that build
# needs a sqlite DLL; scripts/fetch-sqlite.sh (run by scripts/install-deps.sh)
# puts the amalgamation in a cache folder outside the tree, and nothing here
# downloads anything.
if(TARGET vantorel_sqlite)
  return()
endif()

if(NOT WIN32)
  find_package(SQLite3 REQUIRED)
  add_library(vantorel_sqlite INTERFACE)
  target_link_libraries(vantorel_sqlite INTERFACE SQLite::SQLite3)
  return()
endif()

if(DEFINED ENV{VANTOREL_SQLITE_DIR})
  set(vantorel_sqlite_default_dir "$ENV{VANTOREL_SQLITE_DIR}")
else()
  set(vantorel_sqlite_default_dir "$ENV{HOME}/.cache/vantorel/sqlite-3.53.0")
endif()
set(VANTOREL_SQLITE_AMALGAMATION_DIR "${vantorel_sqlite_default_dir}" CACHE PATH
    "folder holding sqlite3.c and sqlite3.h of SQLite 3.53.0 (scripts/fetch-sqlite.sh fills it)")
foreach(file sqlite3.c sqlite3.h)
  if(NOT EXISTS "${VANTOREL_SQLITE_AMALGAMATION_DIR}/${file}")
    message(FATAL_ERROR
      "${VANTOREL_SQLITE_AMALGAMATION_DIR}/${file} not found: run scripts/fetch-sqlite.sh "
      "(scripts/install-deps.sh does), or name another folder with "
      "-DVANTOREL_SQLITE_AMALGAMATION_DIR=<folder>.")
  endif()
endforeach()

add_library(vantorel_sqlite STATIC "${VANTOREL_SQLITE_AMALGAMATION_DIR}/sqlite3.c")
set_target_properties(vantorel_sqlite PROPERTIES LINKER_LANGUAGE C)
# SYSTEM: our -Wall -Wextra -Werror do not reach into sqlite3.h either.
target_include_directories(vantorel_sqlite SYSTEM PUBLIC "${VANTOREL_SQLITE_AMALGAMATION_DIR}")
# Third-party code: compiled without warnings, and never with vantorel_options.
target_compile_options(vantorel_sqlite PRIVATE -w)
# SQLITE_THREADSAFE=1: serialized, a connection may be used from any thread.
# SQLITE_DQS=0: "x" is always an identifier, never a string literal.
# SQLITE_OMIT_LOAD_EXTENSION: no extension DLL can be loaded through SQL.
# SQLITE_DEFAULT_WAL_SYNCHRONOUS=1: NORMAL in WAL mode (consistent after a
# crash; the last commits may be lost at a power cut).
# SQLITE_ENABLE_JSON1: the json functions (built in anyway since 3.38).
target_compile_definitions(vantorel_sqlite PRIVATE
  SQLITE_THREADSAFE=1 SQLITE_DQS=0 SQLITE_OMIT_LOAD_EXTENSION
  SQLITE_DEFAULT_WAL_SYNCHRONOUS=1 SQLITE_ENABLE_JSON1)
