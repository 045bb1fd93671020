#!/usr/bin/env bash
# Takes docs/screenshot.png: the window on a real X server (Xvfb) at work, its
# port open on the simulated instrument and received lines on show. The
# window has no command line, so xdotool plays the operator, clicking at the
# controls' fixed places in the window.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
out=${1:-$here/docs/screenshot.png}

"$here/scripts/setup.sh" --screenshot
"$here/scripts/build.sh"

. "$here/scripts/xsession.sh"

start_instrument 3
start_window
open_port 3
send "ATI"
sleep 0.5
send "STREAM 8 20"
sleep 1.5                  # eight readings at 20 a second, then OK

mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "$out"
