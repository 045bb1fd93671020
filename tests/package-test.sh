#!/usr/bin/env bash
# Tests the Debian package that scripts/package.sh built into $KAVRO_PACKAGE_DIR
# (ctest's fixture package_build; tests/CMakeLists.txt sets the KAVRO_* variables).
# `check`: lintian, its files against `cmake --install`, its versions, the dependencies
# no library link shows. `install` (root only): apt install of the file, PATH, man,
# menu, the window under Xvfb, apt remove. Exits 0 passed, 1 failed, 77 skipped.
set -euo pipefail

tmp=$(mktemp -d)
xvfb='' kavro='' installed_here=''
cleanup() {
    for child in "$kavro" "$xvfb"; do if [ -n "$child" ]; then stop "$child" || true; fi; done
    # A run that failed half way leaves no package behind either.
    if [ -n "$installed_here" ]; then timeout 600 apt-get remove -y -qq kavro >/dev/null 2>&1 || true; fi
    rm -rf "$tmp"
}
trap cleanup EXIT

passed=0 failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
same() { if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: '$2', expected '$3'"; fi; }
# Passes WHAT when the command succeeds, else fails it with the command's output.
try() {
    local what=$1 && shift
    if "$@" >"$tmp/out" 2>&1; then pass "$what"; else fail "$what: $(cat "$tmp/out")" && return 1; fi
}
# SIGTERM to a child of this shell, SIGKILL if it is still there 30 s later (false then).
stop() {
    kill -TERM "$1" 2>/dev/null || true
    sleep 30 &
    local dog=$! ended=yes
    wait -n "$1" "$dog" || true
    if kill -0 "$1" 2>/dev/null; then ended='' && kill -KILL "$1"; fi
    kill "$dog" 2>/dev/null || true
    wait "$1" "$dog" 2>/dev/null || true
    [ -n "$ended" ]
}

debs=("$KAVRO_PACKAGE_DIR"/kavro_*.deb)
deb=${debs[0]}
if [ ${#debs[@]} -ne 1 ] || [ ! -f "$deb" ]; then echo "FAIL: not one package: ${debs[*]}"; exit 1; fi

check_package() {
    # Errors and warnings fail; one that is right for this package is
    # overridden with its reason in debian/kavro.lintian-overrides.
    try lintian timeout 600 lintian --fail-on error,warning "${deb%.deb}.changes" || true

    # Exactly what `cmake --install` puts into a prefix, the manual pages compressed,
    # and what Debian adds to every package (its documentation, lintian's overrides).
    dpkg-deb -x "$deb" "$tmp/deb"
    env -u DESTDIR timeout 300 "$KAVRO_CMAKE" --install "$KAVRO_BUILD_DIR" --prefix "$tmp/cmake/usr" >/dev/null
    (cd "$tmp/cmake" && find . ! -type d | sort) >"$tmp/installed"
    (cd "$tmp/deb" && find . ! -type d) | sed -e '\|^\./usr/share/doc/kavro/|d' \
        -e '\|^\./usr/share/lintian/overrides/kavro$|d' -e 's|^\(\./usr/share/man/.*\)\.gz$|\1|' |
        sort >"$tmp/packaged"
    same "files only cmake --install (<) or only the package (>) has" \
        "$(diff "$tmp/installed" "$tmp/packaged" | grep '^[<>]')" ""

    # The project version in CMakeLists.txt is the one every part shows.
    local man=usr/share/man/man1 what found
    while IFS='|' read -r what found; do
        same "version in $what" "$found" "$KAVRO_VERSION"
    done <<EOF
the package|$(dpkg-deb -f "$deb" Version | sed 's/-[^-]*$//')
the metainfo|$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$tmp"/deb/usr/share/metainfo/*.xml | head -n 1)
kavro.1|$(zcat "$tmp/deb/$man/kavro.1.gz" | sed -n 's/^\.TH .* "Kavro \([^"]*\)".*/\1/p')
kavro-instrument.1|$(zcat "$tmp/deb/$man/kavro-instrument.1.gz" | sed -n 's/^\.TH .* "Kavro \([^"]*\)".*/\1/p')
EOF

    # What the program takes at run time, found here: the SerialPort library, Qt's German
    # texts, the window's font. Their owners are dependencies; no package is named twice.
    local depends path file owner
    depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n' | sed 's/^ *//; s/[ :].*//' | sort)
    same "packages named twice in Depends" "$(uniq -d <<<"$depends")" ""
    while IFS='=' read -r what path; do
        # dpkg knows a file by its path in the package, not by a link to it
        # (/lib is a link to /usr/lib on a merged /usr).
        file=$(realpath -e "$path" 2>/dev/null) || { fail "$what: no such file here: '$path'"; continue; }
        owner=$(dpkg -S "$file" 2>/dev/null | head -n 1 | cut -d: -f1)
        same "$what (${owner:=no package}) in Depends" "$(grep -x -- "$owner" <<<"$depends")" "$owner"
    done <<EOF
Qt SerialPort=$KAVRO_SERIALPORT_LIB
Qt's German translations=$KAVRO_QT_TRANSLATIONS/qtbase_de.qm
the font=$(fc-list -f '%{file}\n' 'Liberation Sans:style=Regular' | head -n 1)
EOF
}

check_install() {
    if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root: installs and removes the package with apt-get"; exit 77; fi
    # Runs from other work trees share dpkg's database: one at a time (this
    # script runs again holding a lock on dpkg's folder, which only it takes),
    # and one that finds Kavro installed leaves it alone.
    if [ -z "${KAVRO_PACKAGE_LOCKED:-}" ]; then
        rm -rf "$tmp"
        KAVRO_PACKAGE_LOCKED=1 exec flock -w 1200 /var/lib/dpkg bash "${BASH_SOURCE[0]}" install
    fi
    if [ "$(dpkg-query -W -f='${Status}' kavro 2>/dev/null)" = "install ok installed" ]; then
        echo "SKIP: kavro is installed here already; after 'apt remove kavro' this runs" && exit 77
    fi
    # Every dependency is here already (scripts/setup.sh): apt gets no package source,
    # so it cannot fetch anything and a missing dependency fails at once.
    mkdir -m 700 "$tmp/no-sources" "$tmp/home"
    installed_here=yes
    try "apt-get install without a package source" env DEBIAN_FRONTEND=noninteractive timeout 900 \
        apt-get install -y -o DPkg::Lock::Timeout=600 -o Dir::Etc::SourceList=/dev/null \
        -o Dir::Etc::SourceParts="$tmp/no-sources" "$deb" || return 0
    dpkg -L kavro >"$tmp/files"

    local what command expected
    while IFS='|' read -r what command expected; do
        same "$what" "$(timeout 60 sh -c "$command" 2>&1)" "$expected"
    done <<'EOF'
kavro on the PATH|command -v kavro|/usr/bin/kavro
man kavro|man -w kavro|/usr/share/man/man1/kavro.1.gz
man kavro-instrument|man -w kavro-instrument|/usr/share/man/man1/kavro-instrument.1.gz
the menu entry|grep -h '^Name=' /usr/share/applications/io.github.kavro.Kavro.desktop|Name=Kavro
EOF

    # The installed program shows its window on a real X server. Xvfb picks a
    # free display and writes its number once it takes clients.
    mkfifo "$tmp/display"
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
    xvfb=$!
    read -r -t 30 display <"$tmp/display" || display=''
    if [ -z "$display" ]; then fail "Xvfb does not start: $(cat "$tmp/xvfb.log")"; else
        HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_RUNTIME_DIR="$tmp/home" \
            DISPLAY=":$display" QT_QPA_PLATFORM=xcb /usr/bin/kavro &
        kavro=$!
        if DISPLAY=":$display" timeout 60 xdotool search --sync --all --onlyvisible \
            --pid "$kavro" --name '^T o l m  Kavro V1\.00$' >/dev/null; then
            pass "the window 'T o l m  Kavro V1.00' of /usr/bin/kavro shows"
        else fail "no window 'T o l m  Kavro V1.00' of /usr/bin/kavro within 60 s"; fi
        if stop "$kavro"; then pass "kavro ends on SIGTERM"; else fail "kavro ignores SIGTERM"; fi
        kavro=''
    fi

    # apt remove leaves none of the package's files; a folder may stay only
    # while another package owns it too ("/." is dpkg's name for the root).
    try "apt-get remove" timeout 600 apt-get remove -y -o DPkg::Lock::Timeout=600 kavro || return 0
    installed_here=''
    local left=() path
    while read -r path; do
        if [ "$path" = "/." ] || { [ ! -e "$path" ] && [ ! -L "$path" ]; }; then continue; fi
        if [ ! -d "$path" ] || [ -L "$path" ] || ! dpkg -S "$path" >/dev/null 2>&1; then left+=("$path"); fi
    done <"$tmp/files"
    same "what apt-get remove leaves" "${left[*]}" ""
}

case "${1:-}" in
check) check_package ;;
install) check_install ;;
*) echo "usage: $0 check|install" >&2 && exit 2 ;;
esac
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
