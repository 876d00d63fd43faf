#!/usr/bin/env bash
# The URL poll against a real browser, and the program's cost with that browser in front:
#  1. one URL read (what the engine does every 1.5 s), timed on the calling thread, with the
#     elements it visited, against a browser with 20 open tabs (url_poll_probe);
#  2. the same while the browser is stopped (SIGSTOP): the worst a hung browser costs;
#  3. the whole program's CPU share over 60 s with that browser in front and URL rules on.
# Everything runs on a private Xvfb, window manager and session bus (with the AT-SPI bus).
#   bench/url-poll.sh [firefox-esr|chromium] [build folder, default build/dev]
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
(($# <= 2)) || refuse "two words at most"
cd "$(dirname "$0")/.."
browser=${1:-firefox-esr}
build=${2:-build/dev}
seconds=${TESVANO_BENCH_SECONDS:-60}
[[ $browser == firefox-esr || $browser == chromium ]] || refuse "$browser: not firefox-esr or chromium"
[ -x "$build/bench/url_poll_probe" ] || refuse "no $build/bench/url_poll_probe (build it first)"
[[ $seconds =~ ^[1-9][0-9]{0,5}$ ]] || refuse "TESVANO_BENCH_SECONDS=$seconds: not a count of seconds"
if [ -z "${TESVANO_BENCH_SESSION:-}" ]; then
    exec dbus-run-session -- env TESVANO_BENCH_SESSION=1 "$0" "$@"
fi

. bench/private-session.sh
"$build/tests/tesvano-load-keymap" --display "$DISPLAY" us de
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
    variant:boolean:true >/dev/null

# A page of ordinary size: headings, paragraphs, a list, a form.
mkdir -p "$work/www"
{
    echo "<html><head><title>Page</title></head><body><h1>A page</h1>"
    for i in $(seq 40); do echo "<h2>Section $i</h2><p>Some text with a <a href=#$i>link</a>.</p>"; done
    echo "<ul>"; for i in $(seq 30); do echo "<li>Item $i</li>"; done; echo "</ul>"
    echo "<form><input name=q><button>Go</button></form></body></html>"
} >"$work/www/index.html"
port=$((20000 + RANDOM % 20000))
spawn python3 -m http.server "$port" --bind 127.0.0.1 -d "$work/www"
urls=()
for i in $(seq 20); do urls+=("http://tab$i.localhost:$port/"); done

profile="$work/profile" && mkdir -p "$profile"
if [ "$browser" = firefox-esr ]; then
    cat >"$profile/user.js" <<'PREFS'
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionPolicyBypassNotification", true);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.tabs.loadInBackground", true);
PREFS
    spawn firefox-esr --no-remote --new-instance --profile "$profile" "${urls[@]}"
else
    spawn chromium --user-data-dir="$profile" --no-first-run --no-default-browser-check \
        --no-sandbox --disable-gpu --password-store=basic \
        "${urls[@]}"
fi
browser_pid=${pids[-1]}
sleep 15
# The last tab in front (Alt+9 in Firefox, Ctrl+9 in Chromium): the other 19 pages stay in
# the tree, in the background.
if [ "$browser" = firefox-esr ]; then xdotool key alt+9; else xdotool key ctrl+9; fi
sleep 2

echo "== one URL read, $browser with 20 tabs =="
"$build/bench/url_poll_probe" --samples 40 --interval-ms 250 | tail -n 3

echo "== the same with the browser stopped =="
kill -STOP -- "-$browser_pid"
"$build/bench/url_poll_probe" --samples 6 --interval-ms 100 | tail -n 3
kill -CONT -- "-$browser_pid"
sleep 2

echo "== the program over $seconds s, $browser in front =="
config='{"isEnabled":true,"defaultSourceID":"xkb:us","defaultAction":"lock","appRules":[],
"enhancedModeEnabled":true,"urlRules":[{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF",
"hostPattern":"tab20.localhost","lockedSourceID":"xkb:de","action":"lock","matchType":"domain"}],
"addressBarFocusEnabled":true,"addressBarAction":"lock","addressBarSourceID":"xkb:us",
"addressBarOutranksURLRules":true,"revertsInSecureInput":false}'
printf '{"lockConfiguration":{"data":"%s"},"menuBarIconHidden":false}\n' \
    "$(printf '%s' "$config" | base64 -w0)" >"$XDG_CONFIG_HOME/tesvano/settings.json"
setsid "$build/Tesvano/tesvano" >"$work/program.log" 2>&1 &
pids+=($!)
program=$!
sleep 4
cat "$work/program.log"
# The program opens Settings when it has no tray to show its icon in: bring the browser back.
for window in $(xdotool search --onlyvisible --pid "$browser_pid" 2>/dev/null); do
    xdotool windowactivate --sync "$window" 2>/dev/null && break
done
echo "in front: $(xdotool getactivewindow getwindowname)"
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$program/stat"; }
hz=$(getconf CLK_TCK)
start=$(ticks)
sleep "$seconds"
end=$(ticks)
echo "the program's activations:"
sqlite3 "$work/.local/share/Tesvano/ActivationLog.store" \
    "select input_source_id, reason, triggering_bundle_id, matched_host from activation_log" || true
awk -v t=$((end - start)) -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "CPU %.2f s in %d s: %.3f%% of one core\n", t / hz, s, 100 * t / hz / s }'
