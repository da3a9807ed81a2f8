#!/usr/bin/env bash
# The long soak against the real driver (not part of the test command):
# 100 000 small requests over one connection, then 1 000 connect/disconnect
# cycles; prints the driver's resident memory and open descriptors over the
# first and the last thousand of each and fails when they do not stay flat.
#
# Usage: scripts/soak.sh [requests] [cycles]
# Environment: PRESET (default "default"; "asan" for the sanitizer build),
#              BUILD_DIR (default: the preset's folder), JOBS (default 2).
set -uo pipefail
cd "$(dirname "$0")/.."
PRESET=${PRESET:-default}
JOBS=${JOBS:-2}
case "$PRESET" in
  default) dir=${BUILD_DIR:-build} ;;
  *) dir=${BUILD_DIR:-build-$PRESET} ;;
esac
cmake --preset "$PRESET" -B "$dir" >/dev/null || exit 1
cmake --build "$dir" -j "$JOBS" --target robustness_test >/dev/null || {
  echo "soak: build failed" >&2
  exit 1
}
VANTOREL_SOAK_REQUESTS=${1:-100000} VANTOREL_SOAK_CYCLES=${2:-1000} \
  "$dir/bin/robustness_test" --gtest_filter='Soak.*'
