#!/usr/bin/env bash
# Takes docs/portlist.png: the window on a real X server (Xvfb) with the port
# box's list opened, showing what each number is. Port 3 is the simulated
# instrument, linked as com3; com5 is a link whose device is gone. The other
# numbers are whatever this machine's own serial ports are (the list only
# looks at them, it never opens one).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
out=${1:-$here/docs/portlist.png}

"$here/scripts/setup.sh" --screenshot
"$here/scripts/build.sh"

. "$here/scripts/xsession.sh"

links="$XDG_CONFIG_HOME/kavro/ports"
"$build/tools/kavro-instrument" --link-dir "$links" --port 3 >/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -L "$links/com3" ] && break; sleep 0.05; done
ln -s /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 "$links/com5"

QT_QPA_PLATFORM=xcb "$build/app/kavro" &
pids+=($!)
window=$(xdotool search --sync --onlyvisible --name "Kavro" | head -n1)
xdotool windowmove "$window" 0 0 windowfocus --sync "$window"
sleep 0.5

# The arrow of the ComPort box, in the window's client area.
xdotool mousemove --window "$window" 200 50 click 1
sleep 0.8

mkdir -p "$(dirname "$out")"
# The list is a window of its own over the main one: take the screen's corner.
import -window root -crop 665x452+0+0 +repage "$out"
echo "$out"
