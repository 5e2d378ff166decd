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

# collector: 8 keep-alive connections with and without storing, and the Qt-style sequential client
run "$bin/zncip-collector-bench"

# collector on PostgreSQL: two collectors sharing a throw-away server, 8 keep-alive connections each
run "$bin/zncip-collector-pg-bench"

# services: record path, memory per queued hit, session store and restore, drain rate to the
# collector and to python3's http.server; each beside its floor
run "$bin/zncip-services-bench"

# recorders: a command until its hit is queued, and the session pass over 10,000 finished sessions;
# each beside a service that drops what it gets
run "$bin/zncip-recorders-bench"

exit $status
