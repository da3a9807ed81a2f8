#!/usr/bin/env bash
# Load on one vantorel-lab and its instrument (not part of the test command).
#
#   scripts/load-lab.sh [--clients N] [--seconds S] [--url URL --token TOKEN [--pid PID]]
#
# Without --url it starts build/bin/vantorel-driver and build/bin/vantorel-lab
# itself (VANTOREL_BUILD names another build folder). The driver binds the fixed
# port 8889: as root without --url this runs in a network namespace of its own
# made for the run (set LOAD_NETNS=0 to run where you are).
# Prints answers by status, latencies per kind, runs against records and the
# lab's memory; exit 0 when it passes, 1 when not.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
py=/usr/bin/python3
[ -x "$py" ] || py=python3

own_lab=1
for a in "$@"; do [ "$a" = "--url" ] && own_lab=0; done
if [ $own_lab -eq 1 ] && [ "$(id -u)" -eq 0 ] && [ "${LOAD_NETNS:-1}" != 0 ] && command -v ip >/dev/null; then
  ns=vantorel-load-$$
  ip netns add "$ns" || exit 1
  trap 'ip netns delete "$ns"' EXIT
  ip netns exec "$ns" ip link set lo up || exit 1
  ip netns exec "$ns" "$py" "$here/tests/service/load_lab.py" "$@"
  exit $?
fi
exec "$py" "$here/tests/service/load_lab.py" "$@"
