#!/usr/bin/env bash
# Installs what building, running and testing Kavro needs on Debian, and
# nothing when it is all there already.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev qt6-svg-dev qt6-translations-l10n
    qt6-base-private-dev # the tests hand events to Qt as the window system does
    fonts-liberation
    desktop-file-utils appstream clang-format file
    ser2net
    lrzsz # XMODEM, YMODEM and ZMODEM go through its programs
)
case "${1:-}" in
--screenshot) packages+=(xvfb xauth x11-apps imagemagick xdotool) ;;
--package) packages+=(debhelper dpkg-dev lintian) ;;
--test) packages+=(debhelper dpkg-dev lintian xvfb xdotool man-db clang libclang-rt-dev
                   python3-xmodem) ;; # a second XMODEM on the far end of the transfer tests
--fuzz) packages+=(clang libclang-rt-dev) ;; # libFuzzer and the sanitizers' runtime
--bench) packages+=(xvfb xauth) ;; # kavro-flood --x11 starts an Xvfb of its own
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
