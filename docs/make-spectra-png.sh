#!/usr/bin/env bash
# Regenerates docs/spectra.png and docs/qc.png from a real run of the README's
# first session and quality control.
#
# Starts build/bin/vantorel-driver with the virtual instrument in a scratch
# folder, runs the `build/bin/vantorelctl ...` lines of README.md's sections
# "A first session" and "Quality control" exactly as written there, ends the
# driver and converts the session's azure/spectra.svg and azure-qc/qc.svg with
# rsvg-convert (Debian's librsvg2-bin).
# Needs a built tree (scripts/run.sh or cmake --build --preset default) and
# port 8889 free. Not part of the test command.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
command -v rsvg-convert >/dev/null || { echo "make-spectra-png: needs rsvg-convert (apt-get install librsvg2-bin)" >&2; exit 1; }
[ -x "$root/build/bin/vantorel-driver" ] || { echo "make-spectra-png: build the tree first" >&2; exit 1; }

work=$(mktemp -d)
driver=""
cleanup() {
  if [ -n "$driver" ]; then kill "$driver" 2>/dev/null || true; wait "$driver" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
ln -s "$root/build" "$work/build"
cd "$work"

"$root/build/bin/vantorel-driver" >driver.log 2>&1 &
driver=$!

# The session's commands, in order, as README shows them.
mapfile -t commands < <( (sed -n '/^## A first session/,/^## /p' "$root/README.md"
  sed -n '/^## Quality control/,/^## /p' "$root/README.md") |
  sed -n 's/^    \(build\/bin\/vantorelctl .*\)$/\1/p')
[ "${#commands[@]}" -gt 0 ] || { echo "make-spectra-png: no commands found in README.md" >&2; exit 1; }

for line in "${commands[@]}"; do
  echo "\$ $line"
  # The driver serves one client at a time: a call that finds it between two
  # clients (exit 3) is tried again.
  for attempt in $(seq 50); do
    status=0
    eval "$line" || status=$?
    [ "$status" -ne 3 ] && break
    sleep 0.1
  done
  # compare exits 5 when the batch fails; the picture is wanted all the same.
  [ "$status" -eq 0 ] || [ "$status" -eq 5 ] || { echo "make-spectra-png: '$line' failed ($status)" >&2; exit 1; }
done
build/bin/vantorelctl terminate >/dev/null || true
wait "$driver" 2>/dev/null || true
driver=""

rsvg-convert -o "$root/docs/spectra.png" azure/spectra.svg
rsvg-convert -o "$root/docs/qc.png" azure-qc/qc.svg
echo "wrote $root/docs/spectra.png and $root/docs/qc.png"
