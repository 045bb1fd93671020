#!/usr/bin/env bash
# Installs what is missing, builds Kavro and starts it. Only the program is
# built; the tests and benchmarks wait for scripts/test.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh" --target kavro
exec "${KAVRO_BUILD:-$here/build}/app/kavro"
