#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every suite:
# native unit and integration tests, the same under AddressSanitizer +
# UndefinedBehaviorSanitizer, the thread-touching tests under ThreadSanitizer,
# the Windows build's tests under Wine, and the Python client and dissector
# tests. Ends with one line "N passed, N failed".
#
# What each ctest run selects (labels, excluded tests, sanitizer options) is
# its test preset in CMakePresets.json; the counts come from ctest's JUnit
# report (scripts/junit-counts.py) and from the Python runner
# (scripts/python-tests.py), never from their text output.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$(pwd)
JOBS=${JOBS:-2}

scripts/install-deps.sh || exit 1

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

start=$(date +%s)
# Seconds since the run began, for the section lines.
elapsed() { echo "$(( $(date +%s) - start )) s"; }

passed=0
failed=0
status=0
log_dir=$(mktemp -d)

# add_counts <what> <exit code> <counts>: adds a suite's counts ("PASSED
# FAILED SKIPPED", skipped ones included in PASSED) to the totals. Counts
# that are missing or malformed, or a failing exit code without a failed
# test among them, add one failed test.
add_counts() {
  local what=$1 rc=$2 p=0 f=0 s=0
  if [[ $3 =~ ^[0-9]+\ [0-9]+\ [0-9]+$ ]]; then
    read -r p f s <<<"$3"
    if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  else
    echo "== $what: no counts (exit code $rc)"
    f=1
  fi
  echo "== $what: $p passed ($s of them skipped), $f failed"
  passed=$((passed + p))
  failed=$((failed + f))
  if [ "$rc" -ne 0 ] || [ "$f" -ne 0 ]; then status=1; fi
}

# run_ctest <name> <test preset> [ctest args...]: runs the tests the preset
# selects, counted from ctest's JUnit report.
run_ctest() {
  local name=$1 preset=$2
  shift 2
  echo "== ctest ($name, preset $preset) at $(elapsed)"
  local junit="$log_dir/$name.xml"
  ctest --preset "$preset" --output-junit "$junit" "$@"
  local rc=$?
  add_counts "ctest ($name)" "$rc" "$(python3 scripts/junit-counts.py "$junit")"
}

# build <preset> [extra build args]: configures and builds; a failure counts as one failed test.
build() {
  local preset=$1
  shift
  echo "== build ($preset) at $(elapsed)"
  local extra=()
  [ "$preset" = default ] && extra=("${NATIVE_CONFIG[@]}")
  if ! cmake --preset "$preset" -DVANTOREL_WERROR=ON "${extra[@]}" >"$log_dir/cfg-$preset.log" 2>&1; then
    cat "$log_dir/cfg-$preset.log"
    failed=$((failed + 1)); status=1; return 1
  fi
  cmake --build --preset "$preset" -j "$JOBS" "$@" >"$log_dir/build-$preset.log" 2>&1
  local rc=$?
  tail -n 5 "$log_dir/build-$preset.log"
  if [ "$rc" -ne 0 ]; then
    grep -E 'error|FAILED' "$log_dir/build-$preset.log" | head -n 40
    failed=$((failed + 1)); status=1; return 1
  fi
  return 0
}


# Which Windows build runs under Wine: the 32-bit product where the machine
# can execute 32-bit programs, else a 64-bit build of the same code (some
# virtual machines run without 32-bit support).
# VANTOREL_WIN32=0 takes the 64-bit stand-in even here (to try that path).
win32_runs() {
  if [ "${VANTOREL_WIN32:-}" = 0 ]; then
    echo "VANTOREL_WIN32=0 was set"
    return 1
  fi
  /usr/lib/wine/wine --version 2>&1
}
if win32_check=$(win32_runs); then
  WIN32_RUNS=1; WIN_PRESET=windows; WIN_TEST_PRESET=wine; WIN_TEST_BUILD=build-win; WINE_LOADER=wine
else
  WIN32_RUNS=0; WIN_PRESET=windows64; WIN_TEST_PRESET=wine64; WIN_TEST_BUILD=build-win64
  WINE_LOADER=/usr/lib/wine/wine64
  WIN32_REASON=$(echo "$win32_check" | tr '\n' ' ' | cut -c1-160)
fi
# A caller may choose its own prefix (two checkouts testing side by side).
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-vantorel-$WIN_TEST_BUILD}"
NATIVE_CONFIG=(-DVANTOREL_WIN_DRIVER="$ROOT/$WIN_TEST_BUILD/bin/vantorel-driver.exe"
               -DVANTOREL_WINE_LOADER="$WINE_LOADER")

# Prepares the Wine prefix and keeps one wine server for the whole run (a
# server that exits between two programs can reset the next one's
# connection, and a new one is busy starting Wine's services). The persistent
# server is started first: once wineboot has started a server, "wineserver
# -p" finds it running and changes nothing, and that server ends a few
# seconds after the last program. The first program of a fresh prefix starts
# Wine's own helper processes, which inherit its standard handles: started
# here, with nothing attached, they cannot hold a test's output pipe open
# after the test ended.
start_wine() {
  mkdir -p "$WINEPREFIX"  # the server needs the folder; wineboot fills it
  if [ "$WIN32_RUNS" -eq 1 ]; then
    wineserver -p >/dev/null 2>&1 || true
    wineboot -i >/dev/null 2>&1 || true
  else
    /usr/lib/wine/wineserver64 -p >/dev/null 2>&1 || true
    /usr/lib/wine/wine64 wineboot.exe --init >/dev/null 2>&1 || true
  fi
  "$WINE_LOADER" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

native_ok=0
if build default; then
  native_ok=1
  run_ctest native native -j "$JOBS"
fi

# The timing suites (real 10 s limits, no memory use of their own) stay out
# of this run (preset asan).
if build asan; then
  run_ctest asan asan -j "$JOBS"
fi

# ThreadSanitizer: only the suites that touch threads (connect workers, the
# instrument's module state, events) are built and run.
if build tsan --target platform_test driver_test instrument_test service_test; then
  run_ctest tsan tsan -j "$JOBS"
fi

# Windows: the unit tests of the Windows build under Wine, then the native
# integration suite against the Windows driver under Wine. The product is
# the 32-bit build, so its suites are the ones that count; the 64-bit
# stand-in runs only where 32-bit programs cannot.
win_ok=0
if [ "$WIN32_RUNS" -eq 1 ]; then
  echo "== Windows: the 32-bit product's suites run under 32-bit Wine"
else
  echo "== Windows: the 32-bit suites did NOT run: this machine cannot execute 32-bit programs (${WIN32_REASON:-/usr/lib/wine/wine failed}); the 32-bit product is only compiled, and the 64-bit build's suites run under wine64 instead"
  build windows --target vantorel-driver Vantorel_Cpp VantorelDriverCLRGlue Quarn_Cpp vantorelctl
fi
if build "$WIN_PRESET"; then
  start_wine
  run_ctest wine "$WIN_TEST_PRESET"
  win_ok=1
fi
if [ "$win_ok" -eq 1 ] && [ "$native_ok" -eq 1 ]; then
  run_ctest wine-integration wine-integration
fi

# Releases: the Debian packages of the native build, then the Windows
# installer (its tables everywhere; a silent install in a fresh prefix, a
# session from the installed driver, an upgrade and a removal where 32-bit
# Wine runs).
# release_suite <name> <build preset> <target>: builds the artefact, runs the
# test preset of the same name; a failed build counts as one failed test.
release_suite() {
  local name=$1 preset=$2 target=$3
  echo "== $name ($target of $preset) at $(elapsed)"
  if cmake --build --preset "$preset" -j "$JOBS" --target "$target" >"$log_dir/$name.log" 2>&1; then
    run_ctest "$name" "$name"
  else
    tail -n 20 "$log_dir/$name.log"
    failed=$((failed + 1)); status=1
  fi
}
if [ "$native_ok" -eq 1 ]; then release_suite package default package; fi
if [ -f build-win/build.ninja ]; then release_suite msi windows msi; fi

# Each fuzz target briefly (regressions surface here; long runs: scripts/fuzz.sh 600).
echo "== fuzz targets, ${FUZZ_SECONDS:-10} s each, at $(elapsed)"
if scripts/fuzz.sh "${FUZZ_SECONDS:-10}" >"$log_dir/fuzz.log" 2>&1; then
  tail -n 6 "$log_dir/fuzz.log"
  passed=$((passed + 1))
else
  tail -n 40 "$log_dir/fuzz.log"
  failed=$((failed + 1)); status=1
fi

# python_suite <name> <driver>: the Python client's tests against <driver>.
python_suite() {
  local name=$1 driver=$2
  echo "== python client and dissector ($name) at $(elapsed)"
  local counts="$log_dir/python-$name.counts"
  VANTOREL_DRIVER="$driver" VANTOREL_WINE_LOADER="$WINE_LOADER" \
    python3 scripts/python-tests.py "$counts"
  local rc=$?
  add_counts "python ($name)" "$rc" "$(cat "$counts" 2>/dev/null)"
}
python_suite native "$ROOT/build/bin/vantorel-driver"
if [ "$win_ok" -eq 1 ]; then python_suite "$WIN_PRESET" "$ROOT/$WIN_TEST_BUILD/bin/vantorel-driver.exe"; fi

# The lab service from outside: its API against the OpenAPI document and a
# real browser, with real drivers on the virtual instrument. Debian's own
# python3 runs them: it is the one that sees python3-selenium.
if [ "$native_ok" -eq 1 ]; then
  echo "== lab service (API and browser) at $(elapsed)"
  counts="$log_dir/service.counts"
  VANTOREL_BUILD="$ROOT/build" VANTOREL_SCREENSHOTS="$ROOT/build/screenshots" \
    /usr/bin/python3 scripts/python-tests.py "$counts" tests/service
  add_counts "lab service" "$?" "$(cat "$counts" 2>/dev/null)"
fi

# Stop the persistent wine server of this run.
if [ "$WIN32_RUNS" -eq 1 ]; then wineserver -k >/dev/null 2>&1 || true
else /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true; fi
echo "== finished in $(( $(date +%s) - start )) s"
rm -rf "$log_dir"
echo "$passed passed, $failed failed"
exit $status
