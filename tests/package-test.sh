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
    if [ -n "$kavro" ]; then kill -KILL "$kavro" 2>/dev/null || true; fi
    if [ -n "$xvfb" ]; then kill -TERM "$xvfb" 2>/dev/null || true; fi
    # A run that failed half way leaves no package behind either.
    if [ -n "$installed_here" ]; then timeout 600 apt-get remove -y -qq kavro >/dev/null 2>&1 || true; fi
    rm -rf "$tmp"
}
trap cleanup EXIT

passed=0 failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
same() { if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: '$2', expected '$3'"; fi; }
is_installed() { [ "$(dpkg-query -W -f='${Status}' kavro 2>/dev/null)" = "install ok installed" ]; }
# SIGTERM to a child of this shell; false when it is still there 30 s later.
ends_on_sigterm() {
    kill -TERM "$1" 2>/dev/null || true
    (sleep 30 && kill -KILL "$1") >/dev/null 2>&1 &
    local dog=$! code=0
    wait "$1" || code=$?
    kill "$dog" 2>/dev/null || true
    [ "$code" -ne 137 ]
}

debs=("$KAVRO_PACKAGE_DIR"/kavro_*.deb)
deb=${debs[0]}
if [ ${#debs[@]} -ne 1 ] || [ ! -f "$deb" ]; then echo "FAIL: not one package: ${debs[*]}"; exit 1; fi

check_package() {
    # Errors and warnings fail; one that is right for this package is
    # overridden with its reason in debian/kavro.lintian-overrides.
    if timeout 600 lintian --fail-on error,warning "${deb%.deb}.changes" >"$tmp/lintian" 2>&1; then
        pass "lintian"
    else fail "lintian: $(cat "$tmp/lintian")"; fi

    # Exactly what `cmake --install` puts into a prefix, with the manual pages
    # compressed and what Debian adds to every package (the documentation
    # folder, lintian's overrides).
    dpkg-deb -x "$deb" "$tmp/deb"
    env -u DESTDIR timeout 300 "$KAVRO_CMAKE" --install "$KAVRO_BUILD_DIR" --prefix "$tmp/cmake/usr" >/dev/null
    (cd "$tmp/cmake" && find . ! -type d | sort) >"$tmp/installed"
    (cd "$tmp/deb" && find . ! -type d) | sed -e '\|^\./usr/share/doc/kavro/|d' \
        -e '\|^\./usr/share/lintian/overrides/kavro$|d' -e 's|^\(\./usr/share/man/.*\)\.gz$|\1|' |
        sort >"$tmp/packaged"
    if [ -s "$tmp/installed" ] && cmp -s "$tmp/installed" "$tmp/packaged"; then
        pass "the package holds what cmake --install installs"
    else fail "the package differs from cmake --install (<: installed only, >: packaged only):
$(diff "$tmp/installed" "$tmp/packaged")"; fi

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

    # What the program takes at run time, found on this machine: the SerialPort
    # library, Qt's German texts and the font the window is laid out for. Each
    # owner must be a dependency, and no package is named twice.
    local depends path owner
    depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n' | sed 's/^ *//; s/[ :].*//' | sort)
    same "packages named twice in Depends" "$(uniq -d <<<"$depends")" ""
    while IFS='=' read -r what path; do
        # dpkg knows a file by its path in the package, not by a link to it
        # (/lib is a link to /usr/lib on a merged /usr).
        path=$(realpath -e "$path" 2>/dev/null) || { fail "$what: no such file here: $path"; continue; }
        owner=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
        same "$what (${owner:=no package}) in Depends" "$(grep -x -- "$owner" <<<"$depends")" "$owner"
    done <<EOF
Qt SerialPort=$KAVRO_SERIALPORT_LIB
Qt's German translations=$KAVRO_QT_TRANSLATIONS/qtbase_de.qm
the font=$(fc-list -f '%{file}\n' 'Liberation Sans:style=Regular' | head -n 1)
EOF
}

check_install() {
    if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root: installs and removes the package with apt-get"; exit 77; fi
    if is_installed; then echo "SKIP: kavro is installed here already; after 'apt remove kavro' this runs"; exit 77; fi
    # Every dependency is on the machine already (scripts/setup.sh), so apt
    # need not and must not fetch anything: without any source of packages it
    # cannot, and a missing dependency fails at once.
    mkdir "$tmp/no-sources" "$tmp/home"
    installed_here=yes
    if DEBIAN_FRONTEND=noninteractive timeout 900 apt-get install -y -o DPkg::Lock::Timeout=600 \
        -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$tmp/no-sources" \
        "$deb" >"$tmp/apt" 2>&1 && is_installed; then
        pass "apt-get install without a package source"
    else fail "apt-get install: $(cat "$tmp/apt")"; return; fi
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
        if ends_on_sigterm "$kavro"; then pass "kavro ends on SIGTERM"; else fail "kavro ignores SIGTERM"; fi
        kavro=''
    fi

    # apt remove leaves none of the package's files; a folder may stay only
    # while another package owns it too ("/." is dpkg's name for the root).
    if timeout 600 apt-get remove -y -o DPkg::Lock::Timeout=600 kavro >"$tmp/apt" 2>&1 && ! is_installed; then
        installed_here=''
        pass "apt-get remove"
    else fail "apt-get remove: $(cat "$tmp/apt")"; return; fi
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
*) echo "usage: $0 check|install" >&2; exit 2 ;;
esac
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
