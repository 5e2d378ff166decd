#!/usr/bin/env bash
# The main job, end to end: the host program with the telemetry module, talking to a local
# collection endpoint. Three runs of one user, then the endpoint's report.
#   run 1  joins the program, works, waits for the module's 30 s send tick, works a little more, exits
#   run 2  reports run 1 as a good session, waits for a tick, works, then crashes on purpose
#   run 3  reports run 2 as a bad session with a crash report, waits for a tick, then the user leaves
#          the program in Tools > Options and exits
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

# The host runs use a desktop locale, so the module's user agent and the hits' language ("ul") read as
# they would on a user's desktop; the module takes them from the locale as is. An installed one is used;
# otherwise en_US.UTF-8 is compiled from the system's locale sources into the demo's own folder.
desktop_locale=""
locale_path=""
available="$(locale -a 2>/dev/null || true)"
for candidate in en_US.UTF-8 en_US.utf8; do
    grep -qx "$candidate" <<<"$available" && { desktop_locale="$candidate"; break; }
done
[ -n "$desktop_locale" ] || desktop_locale="$(grep -Ex '[a-z]{2}_[A-Z]{2}\.(UTF-8|utf8)' <<<"$available" | head -n 1 || true)"
if [ -z "$desktop_locale" ] && [ -f /usr/share/i18n/locales/en_US ] && command -v localedef >/dev/null; then
    mkdir -p "$work/locale"
    [ -d "$work/locale/en_US.UTF-8" ] || localedef -i en_US -f UTF-8 "$work/locale/en_US.UTF-8" >/dev/null 2>&1 || true
    [ -d "$work/locale/en_US.UTF-8" ] && desktop_locale=en_US.UTF-8 locale_path="$work/locale"
fi

say() { printf '\n== %s\n' "$*"; }
exec 3>&2

say "starting the collection endpoint"
# Its admin pages take a free port, so that the demo runs beside a collector already serving.
"$bin/zncip-collector" serve --listen 127.0.0.1 --port 0 --admin-listen 127.0.0.1:0 --db "$work/hits.db" \
    >"$work/collector.log" 2>&1 &
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

host_env=()
if [ -n "$desktop_locale" ]; then
    host_env=(LANG="$desktop_locale" LC_ALL="$desktop_locale")
    [ -z "$locale_path" ] || host_env+=(LOCPATH="$locale_path")
    echo "the host runs use the desktop locale $desktop_locale${locale_path:+ (compiled into $locale_path)}"
else
    echo "no desktop locale is installed here (locale -a lists none such as en_US.UTF-8); the host runs keep" \
        "LANG=${LANG:-unset}, so the user agent and the hits' language show the locale Qt derives from it" \
        "(install the Debian package locales to see a desktop's)"
fi

run() {
    local name="$1" expected="$2"
    shift 2
    say "$name: $*"
    set +e
    # The host's own errors reach the terminal (descriptor 3); the shell's note about a run killed by a
    # signal does not: the demo says itself that run 2 crashes on purpose.
    {
        env "${host_env[@]}" "$bin/zncip-host" --config "$work/zncip-host.ini" \
            --script "$here/demo/$name.script" 2>&3
    } 2>/dev/null
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

run run1 clean "a new user joins, works, waits for the module's first send tick, works a little more"
run run2 crash "no question; run 1 reported as a good session, a send tick, then a crash on purpose"
run run3 clean "run 2 reported as a bad session with its crash report, a send tick, then the user leaves in" \
    "Tools > Options"

say "stopping the collection endpoint"
kill -INT "$collector"
wait "$collector" || true
trap - EXIT

say "what arrived"
"$bin/zncip-collector" report --db "$work/hits.db"
"$bin/zncip-collector" report --db "$work/hits.db" --html "$work/report.html" >/dev/null
echo
echo "the same as a page to open in a browser: $work/report.html"

say "how the first hit introduced itself"
first="$("$bin/zncip-collector" export --db "$work/hits.db" | sed -n 1p)"
echo "user agent:     $(sed -n 's/.*"user_agent":"\([^"]*\)".*/\1/p' <<<"$first")"
echo "language (ul):  $(sed -n 's/.*\["ul","\([^"]*\)"\].*/\1/p' <<<"$first")"
