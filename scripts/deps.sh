#!/usr/bin/env bash
# Installs the Debian packages this project needs, only those that are missing.
# Usage: scripts/deps.sh build|testbed|test
set -euo pipefail

build_pkgs=(cmake g++ make pkg-config libx11-dev libfltk1.3-dev libpulse-dev libasound2-dev
            libmpg123-dev libsoundtouch-dev)
# The Debian package (scripts/package.sh): dpkg-buildpackage with debhelper's cmake build.
build_pkgs+=(dpkg-dev debhelper fakeroot)
# The test bed's private sound server (./run.sh plays there on a machine without sound).
testbed_pkgs=(pulseaudio pulseaudio-utils)
test_pkgs=("${testbed_pkgs[@]}" libgtest-dev libgmock-dev clang libclang-rt-14-dev xvfb xauth
           libasound2-plugins alsa-utils sox libsox-fmt-mp3 twolame lame mpg123
           imagemagick xdotool x11-utils procps openbox)
# The PipeWire variant of the test bed (QUINDLE_TESTBED_SERVER=pipewire): its pulse server,
# session manager and a private session bus.
test_pkgs+=(pipewire wireplumber pipewire-pulse dbus-daemon)
# The install and package checks: lintian, the desktop-entry and manual-page checkers, and
# GLib's desktop launcher (gio launch).
test_pkgs+=(lintian desktop-file-utils man-db groff-base libglib2.0-bin)

want=("${build_pkgs[@]}")
case "${1:-build}" in
    testbed) want+=("${testbed_pkgs[@]}") ;;
    test) want+=("${test_pkgs[@]}") ;;
esac

missing=()
for p in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq -o DPkg::Lock::Timeout=600
$SUDO apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
