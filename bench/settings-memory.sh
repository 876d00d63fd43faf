#!/usr/bin/env bash
# The whole program's resident memory around the Settings window, as a user would see it in a
# process list: started as at login (Settings closed), with Settings open on General, and 5 s
# after closing it, twice. Each figure is the resident set, its anonymous part (what the
# program allocated) and its mapped files (libraries' code and fonts, shared and dropped by the
# kernel under memory pressure). Runs on a private Xvfb, window manager and session bus.
#   bench/settings-memory.sh [program, default build/run/Tesvano/tesvano]
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/run/Tesvano/tesvano}")
[ -x "$program" ] || { echo "no program at $program (build it: cmake --build --preset run)" >&2; exit 2; }
if [ -z "${TESVANO_BENCH_SESSION:-}" ]; then
    exec dbus-run-session -- env TESVANO_BENCH_SESSION=1 "$0" "$@"
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
    sleep 1
    for pid in "${pids[@]}"; do kill -9 -- "-$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
spawn() { setsid "$@" >/dev/null 2>&1 & pids+=($!); }

setsid Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x900x24 3>"$work/display" \
    >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/autostart" && chmod 700 "$XDG_RUNTIME_DIR"
# Started as at login, so that Settings stay closed until a reopen.
printf '[Desktop Entry]\nType=Application\nName=Tesvano\nExec=tesvano\n' \
    >"$XDG_CONFIG_HOME/autostart/tesvano.desktop"
spawn openbox
sleep 1
spawn "$program"
pid=${pids[-1]}
sleep 6

memory() {
    awk '/^VmRSS/ {t=$2} /^RssAnon/ {a=$2} /^RssFile/ {f=$2}
         END {printf "%-24s %6.1f MB (allocated %5.1f, mapped files %5.1f)\n", label, t/1024, a/1024, f/1024}' \
        label="$1" "/proc/$pid/status"
}
closeSettings() {
    for window in $(xdotool search --pid "$pid" --onlyvisible --name 'Tesvano' 2>/dev/null); do
        xdotool windowactivate --sync "$window" key ctrl+w
    done
}

memory "started, Settings closed"
for round in 1 2; do
    "$program" >/dev/null 2>&1  # a reopen: Settings come forward on General
    sleep 4
    memory "Settings open ($round)"
    closeSettings
    sleep 5
    memory "closed 5 s ($round)"
done
