#!/usr/bin/env bash
# Takes docs/screenshot.png: the window on a real X server (Xvfb) at work, its
# port open on the simulated instrument and received lines on show. The
# window has no command line, so xdotool plays the operator, clicking at the
# controls' fixed places in the window.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
out=${1:-$here/docs/screenshot.png}
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
sleep 0.5
send "STREAM 8 20"
sleep 1.5                  # eight readings at 20 a second, then OK

mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "$out"
