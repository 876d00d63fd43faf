#!/usr/bin/env bash
# Memory of the running program over many tesvano:// commands (100,000 by default), each handed
# over as a later launch hands it: what the program allocated must level off. Runs the program
# on a private Xvfb, window manager, session bus and home.
#   bench/url-command-soak.sh [commands] [program, default build/ci/Tesvano/tesvano]
#                             [sender, default build/ci/bench/url_command_soak]
set -euo pipefail
# The comment above, for --help and with a refusal.
usage() { sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; }
refuse() { echo "$1" >&2; usage >&2; exit 2; }
for word in "$@"; do
    case "$word" in
        -h | --help) usage && exit 0 ;;
        -*) refuse "unknown word $word" ;;
    esac
done
(($# <= 3)) || refuse "three words at most"
[[ ${1:-100000} =~ ^[1-9][0-9]{0,8}$ ]] || refuse "commands $1: not a count from 1 to 999999999"
cd "$(dirname "$0")/.."
commands=${1:-100000}
program=$(realpath "${2:-build/ci/Tesvano/tesvano}")
sender=$(realpath "${3:-build/ci/bench/url_command_soak}")
for tool in "$program" "$sender"; do
    [ -x "$tool" ] || { echo "no $tool (build it: cmake --build --preset ci)" >&2; exit 2; }
done
if [ -z "${TESVANO_BENCH_SESSION:-}" ]; then
    exec dbus-run-session -- env TESVANO_BENCH_SESSION=1 "$0" "$@"
fi

. bench/private-session.sh
echo '{"apiEnabled": true}' >"$XDG_CONFIG_HOME/tesvano/settings.json"
# Replies go to the desktop's opener, which runs for each; it is told to hand them to `true`
# rather than start a web browser ten thousand times.
spawn env BROWSER=true "$program"
pid=${pids[-1]}
sleep 6
"$sender" "$pid" "$commands"
