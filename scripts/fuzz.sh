#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, ASan + UBSan) and runs
# each one for a bounded time, starting from its checked-in corpus
# (fuzz/corpus/<target>: seeds and the regression inputs of past crashes,
# all of which are replayed first). New inputs go to a scratch folder, so the
# checked-in corpus stays as it is. Exits non-zero when a target cannot be
# built, crashes, leaks, breaks one of its properties or hangs; the input
# that did it is left in the output folder named at the end.
#
# Usage: scripts/fuzz.sh [seconds per target, default 15]
#        scripts/fuzz.sh --runs N   (each target until it has run N inputs,
#                                    however long that takes)
# The targets run one after the other, each in one process on one thread.
# Environment: BUILD_DIR (default build-fuzz), JOBS (default 2),
#              FUZZ_TARGETS (default "receive bodies exr store cxf").
set -uo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--runs" ]; then
  if ! [[ "${2:-}" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS] | --runs N" >&2
    exit 2
  fi
  limit=(-runs="$2")
else
  if ! [[ "${1:-15}" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS] | --runs N" >&2
    exit 2
  fi
  limit=(-max_total_time="${1:-15}")
fi
BUILD_DIR=${BUILD_DIR:-build-fuzz}
JOBS=${JOBS:-2}
TARGETS=${FUZZ_TARGETS:-receive bodies exr store cxf}

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not found" >&2
  exit 1
fi
cmake --preset fuzz -B "$BUILD_DIR" >/dev/null || exit 1
binaries=()
for target in $TARGETS; do binaries+=("fuzz_$target"); done
cmake --build "$BUILD_DIR" -j "$JOBS" --target "${binaries[@]}" >/dev/null || {
  echo "fuzz: build failed" >&2
  exit 1
}

out=$(mktemp -d /tmp/vantorel-fuzz.XXXXXX)
status=0
for target in $TARGETS; do
  scratch="$out/$target-corpus"
  mkdir -p "$scratch"
  log="$out/$target.log"
  # -close_fd_mask=1: the driver's log lines on standard output would drown
  # libFuzzer's report (which goes to standard error).
  started=$(date +%s)
  "$BUILD_DIR/bin/fuzz_$target" "$scratch" "fuzz/corpus/$target" "${limit[@]}" \
    -timeout=25 -rss_limit_mb=3072 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$out/$target-" >"$log" 2>&1
  rc=$?
  took=$(($(date +%s) - started))
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  rate=$(grep -E '^stat::average_exec_per_sec' "$log" | awk '{print $2}')
  cov=$(grep -E '^#[0-9]+.*(DONE|INITED)' "$log" | tail -n 1 | sed -E 's/.*(cov: [0-9]+ ft: [0-9]+).*/\1/')
  if [ "$rc" -eq 0 ]; then
    echo "fuzz_$target: ok, ${runs:-?} runs in ${took} s (${rate:-?}/s), ${cov:-no coverage line}"
  else
    echo "fuzz_$target: FAILED (exit $rc)"
    grep -E 'ERROR|SUMMARY|violated|runtime error|Test unit written' "$log" | head -n 20
    status=1
  fi
done
echo "fuzz logs and any failing inputs: $out"
exit $status
