#!/usr/bin/env bash
# Runs every benchmark of the tree from BUILD_DIR/bin.   usage: bench/run.sh BUILD_DIR [args...]
set -euo pipefail
build="${1:?usage: bench/run.sh BUILD_DIR}"
bin="$(cd "$build" && pwd)/bin"
status=0
# A benchmark that misses its target exits non-zero; the others still run.
run() { "$@" || status=1; }

# module: load, factory, initApp, uninitApp, deleteModule, unload; median time and memory growth
run "$bin/moduleload_bench"

# collector: 8 keep-alive connections with and without storing, the store alone with the time of each SQL
# statement, and the Qt-style sequential client. To hold the stored rate against an earlier build, run it
# by hand with --compare PATH-TO-THAT-zncip-collector.
run "$bin/zncip-collector-bench"

# collector's own work on a hit, apart from HTTP and the database: parsing and validating one beside
# copying its body, and encoding a batch of 8 for PostgreSQL
run "$bin/zncip-collector-ingest-bench"

# collector under faults: kill -9 rounds (answered hits stored once), an honest client beside 2,000
# slow-header clients, oversized requests and a flood
run "$bin/zncip-collector-faults"

# collector at a fleet's month (10,000,000 hits, 100,000 clients, 30 days): report of the month, of one
# version and of a week, and bytes per stored hit, each beside its target. The first run generates the
# database under BUILD_DIR/bench-data with zncip-collector-gen's generator (minutes) and later runs reuse it.
run "$bin/zncip-collector-report-bench"

# collector's admin API over the same month: p99 of each request the dashboard makes
run "$bin/zncip-collector-admin-bench"

# collector on PostgreSQL: two collectors sharing a throw-away server, 8 keep-alive connections each
run "$bin/zncip-collector-pg-bench"

# collector on PostgreSQL at a fleet's month, grown day by day: bytes, rows, WAL, processor and memory per
# hit after days 1, 10 and 30, projected to the product's fleet; then the admin API's p99 over the primary
# and a hot standby, and the stored rate beside four dashboards (about 20 minutes)
run python3 "$(dirname "$0")/collector/sizing.py" "$build" --dir "$build/bench-data/sizing" --read-bench

# collector on PostgreSQL: processor time per stored hit of new and of known clients, collectors and server
# together, against pgbench writing the rows such a hit causes (target: at most 1.5 times that)
run "$bin/zncip-collector-pg-cpu-bench"

# collector on PostgreSQL: retention of a day of 1,000,000 raw hits, rows deleted against its partition
# dropped, time and write-ahead log of each
run "$bin/zncip-collector-retention-bench"

# services: record path, memory per queued hit, session store and restore, drain rate to the
# collector and to python3's http.server; each beside its floor
run "$bin/zncip-services-bench"

# recorders: a command until its hit is queued, and the session pass over 10,000 finished sessions;
# each beside a service that drops what it gets
run "$bin/zncip-recorders-bench"

exit $status
