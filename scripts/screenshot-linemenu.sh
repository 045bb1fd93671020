#!/usr/bin/env bash
# Takes docs/linemenu.png: the window on a real X server (Xvfb) with port 3
# (the simulated instrument) open and the lamp's menu of its lines open. The
# instrument's pseudo-terminal has no modem lines of its own: the window runs
# with the tests' modem-line library preloaded (testsupport/modemlines.cpp), which
# answers for them, with CTS and DSR raised.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
out=${1:-$here/docs/linemenu.png}

"$here/scripts/setup.sh" --screenshot
"$here/scripts/build.sh"

. "$here/scripts/xsession.sh"

start_instrument 3
mkdir -p "$work/lines"
device=$(readlink "$links/com3")
echo "CTS DSR" >"$work/lines/pts${device##*/}.in"
start_window LD_PRELOAD="$build/testsupport/libkavro_modemlines.so" KAVRO_MODEMLINES="$work/lines"
open_port 3
xdotool mousemove --window "$window" 24 44 click 3   # a right click on the lamp
sleep 0.8

mkdir -p "$(dirname "$out")"
# The menu is a window of its own over the main one: take the screen's corner.
import -window root -crop 665x452+0+0 +repage "$out"
echo "$out"
