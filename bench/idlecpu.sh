#!/usr/bin/env bash
# The window's CPU time while it sits idle with the port list closed: the
# program under Xvfb for SECONDS (60 unless given), its utime + stime from
# /proc/<pid>/stat before and after. Run by hand after a build.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
seconds=${1:-60}

. "$here/scripts/xsession.sh"

QT_QPA_PLATFORM=xcb "$build/app/kavro" 2>/dev/null &
kavro=$!
pids+=($kavro)
xdotool search --sync --onlyvisible --name "Kavro" >/dev/null
sleep 2 # start-up is not idling

ticks() { awk '{ print $14 + $15 }' "/proc/$kavro/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$seconds"
after=$(ticks)
awk -v t=$((after - before)) -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "idle CPU over %d s: %.2f s (%.3f %%)\n", s, t / hz, 100 * t / hz / s }'
