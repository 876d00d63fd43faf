# Sourced by the measuring scripts: a private Xvfb and window manager, a home of its own, and
# `spawn` to start a helper in a process group of its own. Everything goes at the end.
# Sets DISPLAY, HOME and the XDG folders inside it, `work` (the home) and `pids`.
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill -CONT -- "-$pid" 2>/dev/null || true
        kill -- "-$pid" 2>/dev/null || true
    done
    sleep 1
    for pid in "${pids[@]}"; do kill -9 -- "-$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
# Each in a process group of its own, so that helpers go with it.
spawn() { setsid "$@" >/dev/null 2>&1 & pids+=($!); }

setsid Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x900x24 3>"$work/display" \
    >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/.local/share" \
    XDG_CACHE_HOME="$work/.cache" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/tesvano" && chmod 700 "$XDG_RUNTIME_DIR"
spawn openbox
