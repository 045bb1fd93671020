#!/usr/bin/env bash
# Installs what is missing, builds Kavro and runs every test (headless).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
"$here/scripts/setup.sh" --test
"$here/scripts/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300
