#!/usr/bin/env bash
# Takes docs/history.png: the history window on a real X server (Xvfb) beside
# a session with the simulated instrument, whose LOG prints coloured UTF-8
# lines as a small board does. xdotool plays the operator, as in
# screenshot.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
out=${1:-$here/docs/history.png}

"$here/scripts/setup.sh" --screenshot
"$here/scripts/build.sh"

. "$here/scripts/xsession.sh"

start_instrument 3
start_window
open_port 3
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
