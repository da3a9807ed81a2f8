#!/usr/bin/env bash
# The Windows suites, again and again, each time on a fresh Wine prefix (not
# part of the test command: it is long). A round creates a new prefix, starts
# it as the test command does, runs the 32-bit unit tests (ctest label "wine"
# of build-win) and the native integration suite against the 32-bit driver
# under Wine (label "wine-integration" of build), stops the prefix's wine
# server and removes the prefix. A fresh prefix is where rare faults showed:
# its wine server is busy setting itself up and writing the new registry.
#
# Prints each failure (round, suite, test), one line per round and a last
# line "stress-wine: N rounds, P passed, F failed"; exits non-zero when any
# test failed, a suite did not run, or 32-bit Wine cannot run here (there is
# no 64-bit stand-in: the 32-bit product is what this checks).
#
# Usage: scripts/stress-wine.sh [rounds, default 10]
# Environment: JOBS (build parallelism, default 2), KEEP_LOGS (a folder to
#              keep every round's logs in; by default only failing rounds'
#              logs are kept, in a temporary folder named at the end).
# Starts drivers on the fixed port 8889: nothing else may use it meanwhile.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
ROUNDS=${1:-10}
JOBS=${JOBS:-2}
case "$ROUNDS" in
  '' | *[!0-9]* | 0)
    echo "usage: scripts/stress-wine.sh [rounds >= 1]" >&2
    exit 2
    ;;
esac

scripts/install-deps.sh || exit 1

if ! version=$(/usr/lib/wine/wine --version 2>&1); then
  echo "stress-wine: 32-bit Wine cannot run here (/usr/lib/wine/wine: $(echo "$version" | head -c 160));" \
    "the 32-bit suites cannot be stressed on this machine" >&2
  exit 1
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

log_dir=${KEEP_LOGS:-$(mktemp -d /tmp/stress-wine-logs.XXXXXX)}
mkdir -p "$log_dir"

# build <preset> <log> <target|all> [configure args...]: configures with the
# test command's settings and builds the target (all: every default target).
build() {
  local preset=$1 log=$2 target=$3
  shift 3
  local targets=()
  [ "$target" = all ] || targets=(--target "$target")
  if ! cmake --preset "$preset" -DVANTOREL_WERROR=ON "$@" >"$log" 2>&1 ||
    ! cmake --build --preset "$preset" -j "$JOBS" "${targets[@]}" >>"$log" 2>&1; then
    grep -E 'error|FAILED' "$log" | head -n 40
    echo "stress-wine: the $preset build failed (log: $log)" >&2
    exit 1
  fi
}
echo "== $version; building the windows and default presets"
# Every 32-bit unit test; natively only the integration suite (it depends on
# the driver, the modules and vantorelctl).
build windows "$log_dir/build-windows.log" all
build default "$log_dir/build-default.log" driver_integration_test \
  -DVANTOREL_WIN_DRIVER="$ROOT/build-win/bin/vantorel-driver.exe" -DVANTOREL_WINE_LOADER=wine

passed=0
failed=0
failed_rounds=0
prefix=""
cleanup() {
  if [ -n "$prefix" ] && [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1
    rm -rf "$prefix"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# suite <round> <name> <ctest args...>: runs one ctest selection, adds its
# counts and prints its failures. Returns 1 when anything failed.
suite() {
  local round=$1 name=$2
  shift 2
  local log="$log_dir/round$round-$name.log"
  ctest "$@" --output-on-failure --no-tests=error >"$log" 2>&1
  local rc=$?
  local line total=0 bad=0
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    bad=$(echo "$line" | sed -E 's/.*passed, ([0-9]+) tests? failed out of.*/\1/')
    total=$(echo "$line" | sed -E 's/.*failed out of ([0-9]+).*/\1/')
  fi
  if [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ]; then bad=1; fi  # the suite itself did not run
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] && return 0
  # ctest's list of failed entries, each with the test cases gtest names
  # failed in its output (the line that carries the case's time).
  local cases
  cases=$(grep -E '^\[  FAILED  \] [^ ]+ \([0-9]+ ms\)$' "$log" | sed -E 's/^\[  FAILED  \] ([^ ]+) .*/\1/' |
    sort -u | tr '\n' ' ')
  grep -E '^[[:space:]]*[0-9]+ - [^ ]+ \(' "$log" | sed -E 's/^[[:space:]]*[0-9]+ - //' | while read -r entry; do
    echo "FAILED round $round $name: $entry"
  done
  [ -n "$cases" ] && echo "FAILED round $round $name: cases ${cases% }"
  [ -z "$line" ] && echo "FAILED round $round $name: the suite did not run (ctest exit $rc)"
  echo "  log: $log"
  return 1
}

for round in $(seq 1 "$ROUNDS"); do
  started=$(date +%s)
  prefix=$(mktemp -d /tmp/stress-wine-prefix.XXXXXX)
  export WINEPREFIX="$prefix"
  # As the test command starts Wine: one wine server kept for the whole round
  # (started first, so that it is the one wineboot uses), the prefix set up,
  # Wine's helper processes started with nothing attached.
  wineserver -p >/dev/null 2>&1 || true
  wineboot -i >/dev/null 2>&1 || true
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  round_bad=0
  suite "$round" wine --test-dir build-win -L '^wine$' -j 1 || round_bad=1
  suite "$round" wine-integration --test-dir build -L '^wine-integration$' -j 1 || round_bad=1
  cleanup
  prefix=""
  if [ "$round_bad" -eq 0 ]; then
    [ -z "${KEEP_LOGS:-}" ] && rm -f "$log_dir/round$round-"*.log
  else
    failed_rounds=$((failed_rounds + 1))
  fi
  echo "== round $round of $ROUNDS: $([ "$round_bad" -eq 0 ] && echo passed || echo FAILED)" \
    "in $(($(date +%s) - started)) s ($passed passed, $failed failed so far)"
done

if [ "$failed" -eq 0 ] && [ -z "${KEEP_LOGS:-}" ]; then
  rm -rf "$log_dir"
else
  echo "logs: $log_dir"
fi
echo "stress-wine: $ROUNDS rounds, $passed passed, $failed failed ($failed_rounds rounds with failures)"
[ "$failed" -eq 0 ]
