#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang's libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/ (or
# $KAVRO_FUZZ_BUILD) and runs each for SECONDS (default 60), one after the
# other, starting from its corpus in fuzz/corpus/NAME/. New inputs go to a
# temporary folder, so a run leaves the repository as it was. Prints the
# inputs run per target; exits non-zero on any crash, sanitizer report, leak
# or timeout, the input that did it kept in build-fuzz/findings/.
#
#     scripts/fuzz.sh [SECONDS [TARGET...]]     (all targets when none is named)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
only=" $* "
build=${KAVRO_FUZZ_BUILD:-$here/build-fuzz}
"$here/scripts/setup.sh" --fuzz

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DKAVRO_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/findings"
failed=()
ran=0
while read -r name; do
    [ "$only" = "  " ] || [[ "$only" == *" $name "* ]] || continue
    ran=$((ran + 1))
    corpus=$here/fuzz/corpus/$name
    [ -d "$corpus" ] || { echo "fuzz_$name: no corpus in $corpus" >&2; exit 1; }
    mkdir "$scratch/$name"
    log=$scratch/$name.log
    # A slow input (10 s) or a process above 2 GB counts as a finding too.
    if ! "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/findings/$name-" \
        "$scratch/$name" "$corpus" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        failed+=("$name")
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf '%-16s %12s inputs run\n' "$name" "${runs:-?}"
done <"$build/fuzz/targets.txt"

[ "$ran" -gt 0 ] || { echo "No such target:$only(see $build/fuzz/targets.txt)" >&2; exit 1; }
if [ ${#failed[@]} -gt 0 ]; then
    echo "Broken: ${failed[*]} (inputs in $build/findings/)" >&2
    exit 1
fi
echo "Nothing broken."
