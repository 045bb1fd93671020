#!/usr/bin/env bash
# Configures and builds Kavro into build/ (or $KAVRO_BUILD).
#   build.sh [--target T]... [CMAKE CONFIGURATION ARGUMENTS]
# With --target only T and what it needs are built (run.sh builds the program,
# try.sh the program and the simulated instrument); without, everything, the
# tests and benchmarks included. The other arguments go to cmake's
# configuration (scripts/test.sh gives -DKAVRO_WERROR=ON).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVRO_BUILD:-$here/build}
targets=() configure=()
while [ $# -gt 0 ]; do
    case $1 in
    --target) targets+=("$2") && shift 2 ;;
    *) configure+=("$1") && shift ;;
    esac
done

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null

# CPU seconds that building each program from nothing took on the 2-core
# development machine (RelWithDebInfo, no compiler cache): kavro 240 s for its
# 73 steps, the instrument 15 s more for its own 13.
declare -A cpu_seconds=([kavro]=240 [kavro-instrument]=15)

# Says what is about to happen before the build tool's own lines: a first
# build takes minutes, and a newcomer should know that it is not stuck. The
# time is the cost measured above for the share of steps still to do, spread
# over the cores the machine has and shared with what else keeps it busy.
announce() {
    local needed total cost=0 t seconds minutes
    needed=$(ninja -C "$build" -n "${targets[@]}" | grep -c '^\[') || true
    [ "$needed" -gt 0 ] || return 0
    if [ ${#targets[@]} -eq 0 ]; then
        echo "Baue Kavro mit Tests und Benchmarks …"
        return 0
    fi
    total=$(ninja -C "$build" -t commands "${targets[@]}" | wc -l)
    for t in "${targets[@]}"; do cost=$((cost + ${cpu_seconds[$t]:-0})); done
    seconds=$(awk -v c="$cost" -v n="$needed" -v t="$total" -v p="$(nproc)" \
        -v l="$(cut -d ' ' -f 1 /proc/loadavg)" 'BEGIN { printf "%d", c * n / t * (p + l) / (p * p) }')
    minutes=$(((seconds + 59) / 60))
    local about="etwa $minutes Minuten"
    [ "$minutes" -eq 1 ] && about="etwa 1 Minute"
    if [ "$needed" -eq "$total" ]; then
        echo "Baue Kavro … (einmalig, $about)"
    elif [ "$seconds" -ge 60 ]; then
        echo "Baue Kavro … ($about)"
    else
        echo "Baue Kavro …"
    fi
}
announce

build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "$t"); done
cmake --build "$build" --parallel "$(nproc)" "${build_targets[@]}"
