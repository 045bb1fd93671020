#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds Kavro with every
# warning an error and runs every test (headless); then builds the suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer and runs it once more,
# and last runs every fuzz target for 20 s.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
sanitized=${KAVRO_SANITIZED_BUILD:-$here/build-sanitized}
"$here/scripts/setup.sh" --test

echo "== Formatting"
cd "$here"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== Build and tests"
"$here/scripts/build.sh" -DKAVRO_WERROR=ON
# The test that installs and removes the Debian package changes the system:
# it runs in CI (which sets CI) or when asked for by name
# (ctest -R package_install), never in a developer's default run.
system_tests=(--label-exclude system)
[ -n "${CI:-}" ] && system_tests=()
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 "${system_tests[@]}")

echo "== Build and tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$here" -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKAVRO_SANITIZE=ON \
    -DKAVRO_WERROR=ON -DKAVRO_BENCH=OFF >/dev/null
cmake --build "$sanitized" --parallel "$(nproc)"
# Every leak fails, Qt's included: none is known, so none is suppressed.
(cd "$sanitized" && QT_QPA_PLATFORM=offscreen \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure --timeout 600 --label-exclude package)

echo "== Fuzz targets, 20 s each"
"$here/scripts/fuzz.sh" 20
