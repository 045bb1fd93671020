#!/usr/bin/env bash
# What `cmake --install` puts on a desktop: installs the build tree
# $KAVRO_BUILD_DIR into a temporary prefix and checks the icons, that the menu
# entry finds the program and its icon, and what the desktop's own validators
# say. Exits 0 passed, 1 failed.
set -euo pipefail
id=io.github.kavro.Kavro
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
passed=0 failed=0
check() { # WHAT COMMAND...: passes when the command succeeds and prints nothing
    local what=$1 && shift
    local said
    if said=$("$@" 2>&1) && [ -z "$said" ]; then passed=$((passed + 1)); else
        echo "FAIL: $what: $said" && failed=$((failed + 1))
    fi
}

"$KAVRO_CMAKE" --install "$KAVRO_BUILD_DIR" --prefix "$prefix" >/dev/null

# Every icon is a PNG of the size its folder names; the sizes a desktop asks
# for most are there.
for icon in "$prefix"/share/icons/hicolor/*/apps/$id.png; do
    size=$(basename "$(dirname "$(dirname "$icon")")")
    check "icon $size" bash -c '[[ $(file -b "$1") == "PNG image data, ${2/x/ x }, "* ]] || file -b "$1"' _ "$icon" "$size"
done
for size in 16x16 32x32 48x48 256x256; do
    check "icon $size is there" test -f "$prefix/share/icons/hicolor/$size/apps/$id.png"
done

# The menu entry starts the installed program and shows its icon.
entry=$prefix/share/applications/$id.desktop
value() { sed -n "s/^$1=//p" "$entry" | head -n 1; }
check "Exec is the installed program" test -x "$prefix/bin/$(value Exec)"
check "Icon is installed" test -f "$prefix/share/icons/hicolor/48x48/apps/$(value Icon).png"

# The validators: desktop-file-validate prints hints and warnings too, and none
# is wanted; appstreamcli's --strict fails on them.
check "desktop-file-validate" desktop-file-validate "$entry"
check "appstreamcli validate-tree" bash -c 'appstreamcli validate-tree --no-net --strict "$1" >/dev/null' _ "$prefix"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
