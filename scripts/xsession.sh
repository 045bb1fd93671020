# Sourced by the scripts that run the window on a virtual X server: a work
# folder, the children started (ended in reverse order on exit, with the
# folder), and an Xvfb of its own whose display becomes $DISPLAY. The
# configuration, cache and state folders are the work folder's, so that the
# user's own port links, settings and history stay as they are.
work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_STATE_HOME="$work/state"
pids=()
finish() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself and tells its number on fd 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
