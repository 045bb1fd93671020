#!/usr/bin/env bash
# Takes docs/linemenu.png: the window on a real X server (Xvfb) with port 3
# (the simulated instrument) open and the lamp's menu of its lines open. The
# instrument's pseudo-terminal has no modem lines of its own: the window runs
# with the tests' modem-line library preloaded (tools/modemlines.cpp), which
# answers for them, with CTS and DSR raised.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
out=${1:-$here/docs/linemenu.png}

"$here/scripts/setup.sh" --screenshot
"$here/scripts/build.sh"

. "$here/scripts/xsession.sh"

export XDG_CONFIG_HOME="$work/config"
links="$XDG_CONFIG_HOME/kavro/ports"
"$build/tools/kavro-instrument" --link-dir "$links" --port 3 >/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -L "$links/com3" ] && break; sleep 0.05; done
mkdir -p "$work/lines"
device=$(readlink "$links/com3")
echo "CTS DSR" >"$work/lines/pts${device##*/}.in"

LD_PRELOAD="$build/tools/libkavro_modemlines.so" KAVRO_MODEMLINES="$work/lines" \
    QT_QPA_PLATFORM=xcb "$build/app/kavro" &
pids+=($!)
window=$(xdotool search --sync --onlyvisible --name "Kavro" | head -n1)
xdotool windowmove "$window" 0 0 windowfocus --sync "$window"
sleep 0.5

# ComPort 3 typed into its box, then "Öffnen", then a right click on the lamp
# (positions in the window's client area).
xdotool mousemove --window "$window" 170 50 click 1 key ctrl+a type 3
xdotool mousemove --window "$window" 92 44 click 1
sleep 0.5
xdotool mousemove --window "$window" 24 44 click 3
sleep 0.8

mkdir -p "$(dirname "$out")"
# The menu is a window of its own over the main one: take the screen's corner.
import -window root -crop 665x452+0+0 +repage "$out"
echo "$out"
