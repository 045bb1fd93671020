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

# The operator's hands for the picture scripts ($build names the build
# folder). The simulated instrument on port N, linked in the work folder's
# link folder: start_instrument N.
links="$XDG_CONFIG_HOME/kavro/ports"
start_instrument() {
    "$build/instrument/kavro-instrument" --link-dir "$links" --port "$1" >/dev/null &
    pids+=($!)
    for _ in $(seq 100); do [ -L "$links/com$1" ] && break; sleep 0.05; done
}
# The window, with the environment given (start_window VAR=value …); its X
# window id in $window, moved to the corner and focused.
start_window() {
    env "$@" QT_QPA_PLATFORM=xcb "$build/app/kavro" &
    pids+=($!)
    window=$(xdotool search --sync --onlyvisible --name "Kavro" | head -n1)
    xdotool windowmove "$window" 0 0 windowfocus --sync "$window"
    sleep 0.5
}
# Clicks go to places in the window's client area (665 x 452 pixels).
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.2; }
type_text() { xdotool key --clearmodifiers ctrl+a; xdotool type --delay 20 "$1"; sleep 0.2; }
# Port N typed into the ComPort box, then "Öffnen".
open_port() {
    click 180 50
    type_text "$1"
    click 92 44
    sleep 0.5
}
# A command typed into the command box, then "Befehl senden".
send() {
    click 160 136
    type_text "$1"
    click 608 124
}
