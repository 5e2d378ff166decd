#!/usr/bin/env bash
# Writes a screenshot of the join dialog to <build>/screenshots/cip_dialog.png.
#
#   tools/screenshot_dialog.sh [BUILD_DIR]      build the screenshot program there (default: build), run it
#   tools/screenshot_dialog.sh --run PROGRAM    run an already built screenshot program
#
# The dialog is shown on a virtual X server with a desktop-sized screen, so it takes the height its
# texts need; the program checks the picture (banner, wrapped texts, OK disabled) and fails otherwise.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "${1:-}" = "--run" ]; then
    program="$2"
else
    build="${1:-$root/build}"
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j 2 --target consent_dialog_screenshot
    program="$build/bin/consent_dialog_screenshot"
fi

export QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" "$program"
