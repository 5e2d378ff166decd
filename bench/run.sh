#!/usr/bin/env bash
# Runs every benchmark of the tree from BUILD_DIR/bin.   usage: bench/run.sh BUILD_DIR [args...]
set -euo pipefail
build="${1:?usage: bench/run.sh BUILD_DIR}"
bin="$(cd "$build" && pwd)/bin"

# module: load, factory, initApp, uninitApp, deleteModule, unload; median time and memory growth
"$bin/moduleload_bench"

# collector: 8 keep-alive connections with and without storing, and the Qt-style sequential client
"$bin/zncip-collector-bench"

# services: record path, memory per queued hit, session store and restore, drain rate to the
# collector and to python3's http.server; each beside its floor
"$bin/zncip-services-bench"

# recorders: a command until its hit is queued, and the session pass over 10,000 finished sessions;
# each beside a service that drops what it gets
"$bin/zncip-recorders-bench"
