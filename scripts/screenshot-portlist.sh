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

start_instrument 3
ln -s /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 "$links/com5"
start_window

# The arrow of the ComPort box, in the window's client area.
xdotool mousemove --window "$window" 200 50 click 1
sleep 0.8

mkdir -p "$(dirname "$out")"
# The list is a window of its own over the main one: take the screen's corner.
import -window root -crop 665x452+0+0 +repage "$out"
echo "$out"
