#!/usr/bin/env bash
# The first command on a fresh clone: run.sh and try.sh, on a build folder
# that holds nothing yet, build only the programs they start (not the tests
# and benchmarks), say in German that a first build takes a while, and start
# the programs once built. cmake's build is made a dry run (ninja -n) that
# leaves stand-ins for the programs built, which only note that they were
# started, and the machine counts as set up: seconds, no X server. Exits 0
# passed, 1 failed.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() { # WHAT EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then passed=$((passed + 1)); else
        printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3" && failed=$((failed + 1))
    fi
}

mkdir "$work/bin"
cat >"$work/bin/cmake" <<EOF
#!/usr/bin/env bash
set -euo pipefail
[ "\$1" = --build ] || exec "$KAVRO_CMAKE" "\$@"
echo "\$*" >>"$work/builds"
"$KAVRO_CMAKE" "\$@" -- -n >"$work/dry"
for program in app/kavro instrument/kavro-instrument; do
    [[ " \$* " == *" --target \${program#*/} "* || " \$* " != *" --target "* ]] &&
        cp "$work/\${program#*/}" "\$2/\$program"
done
true
EOF
cat >"$work/kavro" <<EOF
#!/usr/bin/env bash
echo "kavro \${XDG_CONFIG_HOME:+with its own config folder}" >>"$work/started"
EOF
cat >"$work/kavro-instrument" <<EOF
#!/usr/bin/env bash
echo "kavro-instrument \$3 \$4" >>"$work/started"
mkdir -p "\$2" && ln -s /dev/null "\$2/com\$4"
exec sleep 60
EOF
printf '#!/bin/sh\nprintf "install ok installed"\n' >"$work/bin/dpkg-query"
chmod +x "$work/bin/"* "$work/kavro" "$work/kavro-instrument"

# SCRIPT: runs it on the build folder; what it built, what the build tool was
# to link, what it said first and what it started.
start() {
    rm -f "$work/builds" "$work/dry" "$work/started"
    PATH="$work/bin:$PATH" KAVRO_BUILD="$work/build" "$source/scripts/$1" >"$work/said" 2>&1 ||
        echo "$1 failed: $(cat "$work/said")" >>"$work/said"
    targets=$(grep -o -- '--target [^ ]*' "$work/builds" | cut -d ' ' -f 2 | paste -sd ' ') || true
    linked=$(sed -n 's/.*Linking CXX executable \([^ ]*\).*/\1/p' "$work/dry" | sort | paste -sd ' ') || true
    others=$(grep -cE ' (tests|testsupport|bench|fuzz)/' "$work/dry") || true
    first=$(head -n 1 "$work/said" | sed -E 's/etwa [1-9][0-9]* Minuten?/etwa N Minuten/')
    started=$(paste -sd ',' "$work/started" 2>/dev/null) || true
}

start run.sh
check "run.sh builds" "kavro" "$targets"
check "run.sh links" "app/kavro" "$linked"
check "run.sh builds no test, benchmark or fuzz target" 0 "$others"
check "run.sh says" "Baue Kavro … (einmalig, etwa N Minuten)" "$first"
check "run.sh starts" "kavro " "$started"

start try.sh
check "try.sh builds" "kavro kavro-instrument" "$targets"
check "try.sh links" "app/kavro instrument/kavro-instrument" "$linked"
check "try.sh builds no test, benchmark or fuzz target" 0 "$others"
check "try.sh says" "Baue Kavro … (einmalig, etwa N Minuten)" "$first"
check "try.sh starts" "kavro-instrument --port 9,kavro with its own config folder" "$started"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
