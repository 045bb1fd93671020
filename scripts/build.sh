#!/usr/bin/env bash
# Configures and builds Kavro into build/ (or $KAVRO_BUILD); arguments go to
# cmake's configuration (scripts/test.sh gives -DKAVRO_WERROR=ON).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
