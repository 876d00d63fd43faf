#!/usr/bin/env bash
# The whole program's memory around the Settings window: started as at login (Settings
# closed), with Settings open on General, after every tab was shown, and 5 s after closing it,
# twice. Each figure is the resident set split as /proc/PID/smaps_rollup counts it: private
# pages (Private_Clean + Private_Dirty: what only this program holds, what closing Settings
# should give back) and shared ones (Shared_Clean + Shared_Dirty: libraries and fonts mapped
# by other programs too). A library or font page counts as private while no other program
# maps it, so on a machine running other Qt programs the private figure moves with them; the
# allocated part (Anonymous: the program's own heap) does not. Runs on a private Xvfb,
# window manager and session bus.
#   bench/settings-memory.sh [program, default build/run/Tesvano/tesvano]
set -euo pipefail
# The comment above, for --help and with a refusal.
usage() { sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; }
refuse() { echo "$1" >&2; usage >&2; exit 2; }
case "${1:-}" in
    -h | --help) usage && exit 0 ;;
    -*) refuse "unknown word $1" ;;
esac
(($# <= 1)) || refuse "one word at most: the program"
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
    awk '/^Rss:/ {r=$2} /^Private_(Clean|Dirty):/ {p+=$2} /^Shared_(Clean|Dirty):/ {s+=$2}
         /^Anonymous:/ {a=$2}
         END {printf "%-26s %6.1f MB resident: private %5.1f (allocated %5.1f), shared %5.1f\n",
              label, r/1024, p/1024, a/1024, s/1024}' \
        label="$1" "/proc/$pid/smaps_rollup"
}
# Clicks along the row of tabs: every tab is wider than the step, so each is shown in turn.
showEveryTab() {
    local window
    window=$(xdotool search --pid "$pid" --onlyvisible --name 'Tesvano' 2>/dev/null | head -1)
    [ -n "$window" ] || return 0
    local WIDTH=0
    eval "$(xdotool getwindowgeometry --shell "$window")"
    for x in $(seq 16 24 $((WIDTH - 16))); do
        xdotool mousemove --window "$window" "$x" 32 click 1
        sleep 0.3
    done
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
    showEveryTab
    sleep 1
    memory "every tab shown ($round)"
    closeSettings
    sleep 5
    memory "closed 5 s ($round)"
done
