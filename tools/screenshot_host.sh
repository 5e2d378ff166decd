#!/usr/bin/env bash
# Writes screenshots of the host program to <build>/screenshots/: host_window.png (the main window with
# a drawing and the command line after a few commands) and host_options.png (Tools > Options on the
# Customer Involvement Program page).
#
#   tools/screenshot_host.sh [BUILD_DIR]        build the host program there (default: build), run it
#   tools/screenshot_host.sh --run PROGRAM      run an already built zncip-host
#
# The host program runs a short script on a virtual X server, as a user who has just joined; its own
# settings live in a temporary folder. Nothing is sent: the run ends long before the module's first tick.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "${1:-}" = "--run" ]; then
    program="$2"
else
    build="${1:-$root/build}"
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j 2 --target zncip-host ZnCIP_4.03_15
    program="$build/bin/zncip-host"
fi
out="$(cd "$(dirname "$program")/.." && pwd)/screenshots"
mkdir -p "$out"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/run"
cat >"$work/host.ini" <<INI
[resources]
cip_endpoint=127.0.0.1:9
[profile]
folder=$work/profile
[session]
root=$work/sessions
INI
cat >"$work/shots.script" <<SCRIPT
answer join
new Bracket.dwg
type LINE
type CIRCLE
type zoom
type SQUIGGLE
type DIMLINEAR
screenshot window $out/host_window.png
type OPTIONS
screenshot options $out/host_options.png
quit
SCRIPT

rm -f "$out/host_window.png" "$out/host_options.png"
XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" \
    "$program" --config "$work/host.ini" --script "$work/shots.script"
for shot in host_window host_options; do
    [ -s "$out/$shot.png" ] || { echo "screenshot_host: $out/$shot.png was not written" >&2; exit 1; }
done
