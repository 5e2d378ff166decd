#!/usr/bin/env bash
# A throw-away PostgreSQL server for tests and benchmarks, reachable only through a Unix socket in DIR.
#
#   tools/pg_cluster.sh start DIR   creates the cluster in DIR (once), starts it, creates the database
#                                   zncip; the last line printed is its address for --db
#   tools/pg_cluster.sh stop DIR    stops it (DIR stays; remove it when done)
#   tools/pg_cluster.sh standby PRIMARY_DIR DIR
#                                   copies the running server of PRIMARY_DIR into DIR (once) as a hot
#                                   standby that streams its changes, and starts it; the last line printed
#                                   is the standby's address of the database zncip. start and stop DIR
#                                   start and stop it again like any other.
#
# The server runs as the unprivileged user postgres when started as root (it refuses to run as root), so
# that user must be able to reach DIR: DIR is created owned by it, and every folder above DIR must be
# searchable by others (a mktemp -d folder needs chmod 755).
#
# Logins are not checked (trust), so the socket is what keeps other local accounts out: its folder is
# 0700 and the socket itself 0700, both owned by the server's user. Only that user, and root, can connect.
set -euo pipefail

bin="${PG_BIN:-/usr/lib/postgresql/15/bin}"
command="${1:-}"
dir="${2:-}"
primary=""
if [ "$command" = standby ]; then
    primary="${2:-}"
    dir="${3:-}"
fi
if [ -z "$dir" ] || { [ "$command" != start ] && [ "$command" != stop ] && [ "$command" != standby ]; }; then
    echo "usage: tools/pg_cluster.sh start|stop DIR, or standby PRIMARY_DIR DIR" >&2
    exit 2
fi
if [ ! -x "$bin/pg_ctl" ]; then
    echo "pg_cluster: no PostgreSQL server in $bin (install the package postgresql)" >&2
    exit 1
fi
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        (cd / && runuser -u postgres -- "$@")
    else
        "$@"
    fi
}

if [ "$command" = stop ]; then
    [ -f "$dir/data/postmaster.pid" ] || exit 0
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null
    exit 0
fi

[ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
if [ "$command" = standby ] && [ ! -f "$dir/data/PG_VERSION" ]; then
    primary="$(cd "$primary" && pwd)"
    if [ "$(as_owner "$bin/psql" -h "$primary/socket" -U postgres -d postgres -XAtc 'SHOW wal_level')" = minimal ]; then
        echo "pg_cluster: the server in $primary has wal_level minimal; set it to replica and restart it" >&2
        exit 1
    fi
    # -R writes the address of the primary's socket and standby.signal: the copy starts as a standby.
    as_owner "$bin/pg_basebackup" -h "$primary/socket" -U postgres -D "$dir/data" -R -X stream -c fast --no-sync --no-manifest \
        >"$dir/basebackup.log" 2>&1 || { cat "$dir/basebackup.log" >&2; exit 1; }
    as_owner mkdir -p -m 700 "$dir/socket"
    # Later lines win: the copy's own socket folder instead of the primary's.
    cat >>"$dir/data/postgresql.conf" <<CONF
unix_socket_directories = '$dir/socket'
hot_standby = on
hot_standby_feedback = on
CONF
elif [ ! -f "$dir/data/PG_VERSION" ]; then
    as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 1; }
    as_owner mkdir -p -m 700 "$dir/socket"
    cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir/socket'
unix_socket_permissions = 0700
max_connections = 100
shared_buffers = 128MB
fsync = on
wal_level = replica
max_wal_senders = 4
CONF
    # Streaming replication through the socket, for tools/pg_cluster.sh standby.
    grep -q '^local[[:space:]]\+replication' "$dir/data/pg_hba.conf" ||
        echo "local replication all trust" >>"$dir/data/pg_hba.conf"
    created=1
fi
as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start >/dev/null ||
    { tail -20 "$dir/server.log" >&2; exit 1; }
if [ "${created:-0}" = 1 ]; then
    as_owner "$bin/createdb" -h "$dir/socket" -U postgres zncip
fi
echo "postgresql:///zncip?host=$dir/socket&user=postgres"
