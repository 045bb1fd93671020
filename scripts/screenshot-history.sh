#!/usr/bin/env bash
# Takes docs/history.png: the history window on a real X server (Xvfb) beside
# a session with the simulated instrument, whose LOG prints coloured UTF-8
# lines as a small board does. xdotool plays the operator, as in
# screenshot.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
out=${1:-$here/docs/history.png}
port=3

"$here/scripts/setup.sh" --screenshot
"$here/scripts/build.sh"

. "$here/scripts/xsession.sh"

"$build/tools/kavro-instrument" --link-dir "$XDG_CONFIG_HOME/kavro/ports" --port "$port" >/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -L "$XDG_CONFIG_HOME/kavro/ports/com$port" ] && break; sleep 0.05; done

QT_QPA_PLATFORM=xcb "$build/app/kavro" &
pids+=($!)
window=$(xdotool search --sync --onlyvisible --name "Kavro" | head -n1)
xdotool windowmove "$window" 0 0 windowfocus --sync "$window"
sleep 0.5

# Clicks go to places in the window's client area (665 x 452 pixels).
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.2; }
type_text() { xdotool key --clearmodifiers ctrl+a; xdotool type --delay 20 "$1"; sleep 0.2; }
send() {
    click 160 136          # the command box
    type_text "$1"
    click 608 124          # "Befehl senden"
}

click 180 50               # the ComPort box
type_text "$port"
click 92 44                # "Öffnen"
sleep 0.5
send "ATI"
sleep 0.3
send "LOG"
sleep 0.3
send "STREAM 3 20"
sleep 0.5

xdotool windowfocus --sync "$window" key ctrl+h
history=$(xdotool search --sync --onlyvisible --name "Verlauf" | head -n1)
xdotool windowmove "$history" 0 0 windowsize "$history" 760 300
sleep 1

mkdir -p "$(dirname "$out")"
import -window "$history" "$out"
echo "$out"
