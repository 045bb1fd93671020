#!/usr/bin/env bash
# Tries Kavro without hardware: builds the program and the simulated
# instrument if needed (nothing else), starts the instrument on port 9 (or
# $KAVRO_TRY_PORT) and the terminal beside it. Both get a config folder of
# their own, so the user's own port links stay as they are. Closing the window
# stops the instrument and removes the folder and its pseudo-terminal.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
port=${KAVRO_TRY_PORT:-9}

"$here/scripts/build.sh" --target kavro --target kavro-instrument

config=$(mktemp -d)
instrument=
finish() {
    if [ -n "$instrument" ]; then
        kill -TERM "$instrument" 2>/dev/null || true
        wait "$instrument" 2>/dev/null || true
    fi
    rm -rf "$config"
}
trap finish EXIT
trap 'exit 130' INT TERM

links="$config/kavro/ports"
"$build/instrument/kavro-instrument" --link-dir "$links" --port "$port" &
instrument=$!
for _ in $(seq 100); do
    [ -L "$links/com$port" ] && break
    kill -0 "$instrument" 2>/dev/null || { echo "Das simulierte Messgerät startet nicht." >&2; exit 1; }
    sleep 0.05
done
[ -L "$links/com$port" ] || { echo "Das simulierte Messgerät startet nicht." >&2; exit 1; }

echo "Das simulierte Messgerät sitzt auf Port $port."
echo "Port $port wählen, \"Öffnen\", dann z. B. AT, ATI, STREAM 100 10 oder BYTES senden;"
echo "CURVES 3000 20 sendet vier Messreihen für \"Kurven…\" (Strg+K)."
XDG_CONFIG_HOME="$config" "$build/app/kavro"
