#!/usr/bin/env bash
# Installs what is missing, builds Kavro and starts it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh"
exec "${KAVRO_BUILD:-$here/build}/app/kavro"
