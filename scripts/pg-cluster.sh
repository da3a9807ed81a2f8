#!/usr/bin/env bash
# A throwaway PostgreSQL server for the record store's tests.
#
#   scripts/pg-cluster.sh start DIR   a new cluster listening on 127.0.0.1 at
#                                     a free port, with the database and role
#                                     vantorel_test (trust on loopback, no
#                                     Unix socket, fsync off); writes its libpq
#                                     URI to DIR/uri
#   scripts/pg-cluster.sh stop DIR    stops it at once and removes it and DIR
#                                     (also after a start that failed half way)
#
# The server binaries are the newest /usr/lib/postgresql/*/bin (PG_BINDIR
# names others). The server refuses to run as root: as root, the cluster
# belongs to the "postgres" system user and lives in a folder under
# ${TMPDIR:-/tmp} that user can reach (DIR/datadir names it); otherwise it
# runs as the caller. Exits non-zero with one line on stderr when it fails.
set -uo pipefail

fail() {
  echo "pg-cluster: $*" >&2
  exit 1
}

[ $# -eq 2 ] || fail "usage: $0 start|stop DIR"
action=$1
dir=$2
role=vantorel_test
db=vantorel_test

if [ -n "${PG_BINDIR:-}" ]; then
  bindir=$PG_BINDIR
else
  bindir=$(printf '%s\n' /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
fi

# Runs a server program as the cluster's owner.
as_owner() {
  if [ "$(id -u)" -ne 0 ]; then
    "$@"
  elif command -v runuser >/dev/null; then
    (cd / && runuser -u postgres -- "$@")
  else
    (cd / && setpriv --reuid=postgres --regid=postgres --init-groups -- "$@")
  fi
}

# The cluster's folder as start recorded it, if it is one of ours.
recorded_home() {
  local home
  home=$(cat "$dir/datadir" 2>/dev/null) || return 1
  case "$(basename -- "$home")" in
    vantorel-pg.*) [ -d "$home" ] && echo "$home" ;;
    *) return 1 ;;
  esac
}

stop() {
  local home pid
  if home=$(recorded_home); then
    if [ -f "$home/data/postmaster.pid" ]; then
      if ! as_owner "$bindir/pg_ctl" -D "$home/data" -m immediate -w -t 30 stop >/dev/null 2>&1; then
        # Only the postmaster this cluster started (its pid file's first line).
        pid=$(head -n 1 "$home/data/postmaster.pid" 2>/dev/null)
        if [[ "$pid" =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid"; fi
      fi
    fi
    rm -rf -- "$home"
  fi
  rm -rf -- "$dir"
  [ ! -e "$dir" ] || fail "could not remove $dir"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start() {
  if [ ! -x "$bindir/initdb" ] || [ ! -x "$bindir/pg_ctl" ]; then
    fail "no PostgreSQL server programs (initdb, pg_ctl) in ${bindir:-/usr/lib/postgresql/*/bin}; install the postgresql package"
  fi
  if [ "$(id -u)" -eq 0 ] && ! id -u postgres >/dev/null 2>&1; then
    fail "running as root, but there is no 'postgres' user to own the cluster; install the postgresql package or run as another user"
  fi
  # What an earlier run left behind goes first.
  stop
  mkdir -p -- "$dir" || fail "cannot create $dir"

  local home log port started=0 _
  home=$(mktemp -d "${TMPDIR:-/tmp}/vantorel-pg.XXXXXX") || fail "cannot create a folder under ${TMPDIR:-/tmp}"
  echo "$home" >"$dir/datadir"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$home" || fail "cannot hand $home to the postgres user"
  fi
  log=$home/server.log

  as_owner "$bindir/initdb" -D "$home/data" -U postgres --auth=trust -E UTF8 --locale=C \
    --no-instructions >"$home/initdb.log" 2>&1 ||
    fail "initdb failed: $(tail -n 1 "$home/initdb.log")"
  # Trust over loopback TCP only: no Unix socket, no other address.
  echo "host all all 127.0.0.1/32 trust" | as_owner tee "$home/data/pg_hba.conf" >/dev/null ||
    fail "cannot write pg_hba.conf"

  # A port free a moment ago may be taken by the time the server binds it:
  # a few tries with a new one.
  for _ in 1 2 3; do
    port=$(free_port) || fail "cannot find a free TCP port (python3 is needed)"
    as_owner tee "$home/data/postgresql.auto.conf" >/dev/null <<EOF || fail "cannot write the configuration"
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = ''
fsync = off
synchronous_commit = off
full_page_writes = off
shared_buffers = 16MB
max_connections = 40
EOF
    if as_owner "$bindir/pg_ctl" -D "$home/data" -l "$log" -w -t 60 start >/dev/null 2>&1; then
      started=1
      break
    fi
    grep -q "could not bind" "$log" 2>/dev/null || break
  done
  [ $started -eq 1 ] ||
    fail "the server did not start: $(grep -E 'FATAL|ERROR|PANIC' "$log" 2>/dev/null | tail -n 1) (log: $log)"

  local psql=$bindir/psql
  [ -x "$psql" ] || psql=psql
  "$psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U postgres -d postgres \
    -c "CREATE ROLE $role LOGIN" -c "CREATE DATABASE $db OWNER $role" >"$home/setup.log" 2>&1 ||
    fail "cannot create the role and database: $(tail -n 1 "$home/setup.log")"
  echo "postgresql://$role@127.0.0.1:$port/$db" >"$dir/uri" || fail "cannot write $dir/uri"
}

case "$action" in
  start) start ;;
  stop) stop ;;
  *) fail "usage: $0 start|stop DIR" ;;
esac
