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

. bench/private-session.sh
mkdir -p "$XDG_CONFIG_HOME/autostart"
# Started as at login, so that Settings stay closed until a reopen.
printf '[Desktop Entry]\nType=Application\nName=Tesvano\nExec=tesvano\n' \
    >"$XDG_CONFIG_HOME/autostart/tesvano.desktop"
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
