#!/usr/bin/env bash
# Takes docs/plot.png: the curves window on a real X server (Xvfb) while the
# simulated instrument streams four series of readings (CURVES). xdotool
# plays the operator, as in screenshot.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
out=${1:-$here/docs/plot.png}

"$here/scripts/setup.sh" --screenshot
"$here/scripts/build.sh"

. "$here/scripts/xsession.sh"

start_instrument 3
start_window
open_port 3
send "CURVES 400 40"
sleep 0.3

xdotool windowfocus --sync "$window" key ctrl+k
plot=$(xdotool search --sync --onlyvisible --name "Kurven" | head -n1)
xdotool windowmove "$plot" 0 0 windowsize "$plot" 780 460
# Ten seconds of readings, drawn four times a second.
sleep 10

mkdir -p "$(dirname "$out")"
import -window "$plot" "$out"
echo "$out"
