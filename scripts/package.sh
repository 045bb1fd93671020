#!/usr/bin/env bash
# Builds the Debian package: ./scripts/package.sh [FOLDER]
# puts kavro_<version>-<revision>_<arch>.deb (with its .buildinfo and
# .changes) into FOLDER, by default the folder above the project, and prints
# the package's path. Works as root or not; installs the build tools first.
#
# The package is built the Debian way (dpkg-buildpackage, debhelper) from a
# copy of the sources in a temporary folder, so the work tree and its build/
# stay as they are. Its version must be the project version in CMakeLists.txt:
# when debian/changelog names another one, the build stops and says so.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$here/..}")

"$here/scripts/setup.sh" --package

version=$(sed -n 's/^project(kavro VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
package_version=$(dpkg-parsechangelog -l "$here/debian/changelog" -S Version)
if [ -z "$version" ] || [ "${package_version%-*}" != "$version" ]; then
    echo "debian/changelog nennt ${package_version}, CMakeLists.txt aber die Version ${version:-?}." >&2
    echo "Ein Eintrag für die neue Version: dch -v ${version:-?}-1 \"Neue Version\"" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$work/kavro-$version"
mkdir "$src"
# The sources as git knows them (new files included, build folders and files
# deleted from the work tree not); without git, all but the build folders.
if [ "$(git -C "$here" rev-parse --show-toplevel 2>/dev/null)" = "$here" ]; then
    git -C "$here" ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do
            if [ -e "$here/$f" ] || [ -L "$here/$f" ]; then printf '%s\0' "$f"; fi
        done |
        tar -C "$here" --null --no-recursion -T - -cf - | tar -C "$src" -xf -
else
    tar -C "$here" --exclude='./build*' --exclude=./.git --exclude='./obj-*' -cf - . | tar -C "$src" -xf -
fi

# All cores, and no debug symbols' package that users would find beside the
# program's; whoever sets DEB_BUILD_OPTIONS gets just those options.
options="parallel=$(nproc) noautodbgsym"
(cd "$src" && DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-$options}" dpkg-buildpackage -us -uc -b) \
    >"$work/build.log" 2>&1 || {
    tail -n 60 "$work/build.log" >&2
    echo "dpkg-buildpackage ist gescheitert (oben das Ende seiner Ausgabe)." >&2
    exit 1
}

# Everything the .changes lists comes along, so that lintian and other tools
# can check the build as a whole.
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
changes="$work/kavro_${package_version}_${arch}.changes"
mkdir -p "$out"
cp "$changes" "$out/"
sed -n '/^Files:/,/^[^ ]/s/^ .* \([^ ]*\)$/\1/p' "$changes" | while read -r f; do cp "$work/$f" "$out/"; done
echo "$out/kavro_${package_version}_${arch}.deb"
