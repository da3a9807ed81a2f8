#!/usr/bin/env bash
# Puts the SQLite amalgamation (sqlite3.c, sqlite3.h, sqlite3ext.h of SQLite
# 3.53.0) that the Windows builds compile into a cache folder outside the
# tree: ${VANTOREL_SQLITE_DIR:-$HOME/.cache/vantorel/sqlite-3.53.0}, the
# default of CMake's VANTOREL_SQLITE_AMALGAMATION_DIR. The files come from
# the npm package better-sqlite3@12.9.0 (npm pack: a download, nothing is
# built or run), checked against its sha256. Idempotent: a folder whose files
# match their pinned checksums is left as it is.
# Prints one line. Configure and build never download anything.
set -euo pipefail

PACKAGE=better-sqlite3@12.9.0
TARBALL=better-sqlite3-12.9.0.tgz
TARBALL_SHA256=ad0e29650140c49d0335b1d356596aa8166f12b758f418a98446130e3278f250
FILES=(sqlite3.c sqlite3.h sqlite3ext.h)
# The files' own sums, so a folder filled by other means is not taken.
SUMS="391855ddc7af04001364430884d263cbe8638f852c83865823a2d08358f6b87d  sqlite3.c
8e43a79982422f4720685f62839718f0e41410c1b71355aa32af3615ccd9e31d  sqlite3.h
ac9645e5c9ff0cf176efdd6e75cb5e98f46295d38e02db5c4d208826a39ab4be  sqlite3ext.h"
DIR=${VANTOREL_SQLITE_DIR:-$HOME/.cache/vantorel/sqlite-3.53.0}

if [ -d "$DIR" ] && (cd "$DIR" && sha256sum -c --quiet --status <<<"$SUMS") 2>/dev/null; then
  echo "fetch-sqlite: SQLite 3.53.0 amalgamation present in $DIR"
  exit 0
fi

if ! command -v npm >/dev/null 2>&1; then
  echo "fetch-sqlite: npm not found; install Node.js with npm (the nodejs package of this machine brings /usr/bin/npm), then run this again" >&2
  exit 1
fi

parent=$(dirname "$DIR")
mkdir -p "$parent"
work=$(mktemp -d "$parent/.fetch-sqlite.XXXXXX")
trap 'rm -rf "$work"' EXIT

# --ignore-scripts: a registry package runs nothing on pack, and must not.
if ! (cd "$work" && npm pack "$PACKAGE" --ignore-scripts --silent >npm-pack.log 2>&1); then
  echo "fetch-sqlite: npm pack $PACKAGE failed:" >&2
  cat "$work/npm-pack.log" >&2
  exit 1
fi
actual=$(sha256sum "$work/$TARBALL" | cut -d' ' -f1)
if [ "$actual" != "$TARBALL_SHA256" ]; then
  echo "fetch-sqlite: $TARBALL has sha256 $actual, expected $TARBALL_SHA256; nothing extracted" >&2
  exit 1
fi

mkdir "$work/out"
members=()
for f in "${FILES[@]}"; do members+=("package/deps/sqlite3/$f"); done
tar -xzf "$work/$TARBALL" -C "$work/out" --strip-components=3 --no-same-owner "${members[@]}"
if ! (cd "$work/out" && sha256sum -c --quiet <<<"$SUMS" >&2); then
  echo "fetch-sqlite: the SQLite files of $TARBALL are not the expected ones" >&2
  exit 1
fi
echo "$SUMS" >"$work/out/SHA256SUMS"

# Move the complete folder into place, so a build never sees half of it.
rm -rf "$DIR.old"
if [ -e "$DIR" ]; then mv "$DIR" "$DIR.old"; fi
mv "$work/out" "$DIR"
rm -rf "$DIR.old"
echo "fetch-sqlite: SQLite 3.53.0 amalgamation from $PACKAGE put in $DIR"
