#!/usr/bin/env bash
# The main job, end to end: the host program with the telemetry module, talking to a local
# collection endpoint. Three runs of one user, then the endpoint's report.
#   run 1  joins the program, works, waits for the module's 30 s send tick, works a little more, exits
#   run 2  reports run 1 as a good session, waits for a tick, works, then crashes on purpose
#   run 3  reports run 2 as a bad session with a crash report, waits for a tick, exits
# usage: apps/demo.sh BUILD_DIR
set -euo pipefail

build="$(cd "${1:?usage: demo.sh BUILD_DIR}" && pwd)"
bin="$build/bin"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$build/demo"
rm -rf "$work"
mkdir -p "$work"

# Everything the runs keep (settings, the module's stored hits, sessions) stays inside the demo folder.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
ulimit -c 0

say() { printf '\n== %s\n' "$*"; }

say "starting the collection endpoint"
"$bin/zncip-collector" serve --listen 127.0.0.1 --port 0 --db "$work/hits.db" >"$work/collector.log" 2>&1 &
collector=$!
trap 'kill "$collector" 2>/dev/null || true' EXIT
port=""
for _ in $(seq 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/collector.log")
    [ -n "$port" ] && break
    kill -0 "$collector" 2>/dev/null || { cat "$work/collector.log"; exit 1; }
    sleep 0.1
done
[ -n "$port" ] || { echo "the collector did not start"; exit 1; }
echo "listening on 127.0.0.1:$port, database $work/hits.db"

sed -e "s#@PORT@#$port#" -e "s#@WORK@#$work#" "$here/demo/zncip-host.ini" >"$work/zncip-host.ini"

run() {
    local name="$1" expected="$2"
    say "$name"
    set +e
    "$bin/zncip-host" --config "$work/zncip-host.ini" --script "$here/demo/$name.script"
    local code=$?
    set -e
    if [ "$expected" = crash ]; then
        [ $code -ne 0 ] || { echo "run was meant to crash but exited $code"; exit 1; }
        echo "(exited with $code, as planned)"
    elif [ $code -ne 0 ]; then
        echo "run failed with exit code $code"
        exit 1
    fi
}

run run1 clean
run run2 crash
run run3 clean

say "stopping the collection endpoint"
kill -INT "$collector"
wait "$collector" || true
trap - EXIT

say "what arrived"
"$bin/zncip-collector" report --db "$work/hits.db"
