#!/usr/bin/env bash
# Builds the Debian package with dpkg-buildpackage (debhelper's cmake build, the distribution's
# build and hardening flags) and prints the path of the .deb: build/deb/quindle64_<version>_<arch>.deb.
# dpkg-buildpackage writes its results beside the source folder, so it builds a copy of the
# source in build/deb/quindle64-<version>/; the .changes, the -dbgsym package and the cmake
# tree (obj-<triplet>/) stay there. Usage: scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" build >&2
out=$root/build/deb
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
src=$out/quindle64-$version
rm -rf "$out"
mkdir -p "$src"
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$src" -xf -
(cd "$src" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc -b >&2)
ls "$out/quindle64_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb"
