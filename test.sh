#!/usr/bin/env bash
# Installs what is missing, builds three times (warnings as errors; AddressSanitizer +
# UndefinedBehaviorSanitizer; ThreadSanitizer) and runs the whole suite under ctest for each
# build, inside the private test bed (its own sound server and display, scripts/testbed.sh);
# the few sound-server tests run once more with PipeWire as the server. The fuzz targets are
# built with the file layer alone and its tests, which run outside the test bed.
# QUINDLE_NO_TSAN=1 leaves out the ThreadSanitizer build.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

scripts/deps.sh test

jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
build() {  # build <dir> <cmake args...>
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -DQUINDLE_WERROR=ON -DQUINDLE_ALSA=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

build build/werror -DCMAKE_BUILD_TYPE=RelWithDebInfo
build build/asan -DCMAKE_BUILD_TYPE=Debug -DQUINDLE_SANITIZE=address,undefined,float-cast-overflow
builds="build/werror build/asan"
if [ -z "${QUINDLE_NO_TSAN:-}" ]; then
    build build/tsan -DCMAKE_BUILD_TYPE=Debug -DQUINDLE_SANITIZE=thread
    builds="$builds build/tsan"
fi
# The fuzz targets (clang with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) in a
# tree of the file layer alone, with its tests: pkg-config is shown no module at all, so this
# tree proves that the file layer needs no window, audio or decoding development package, and
# its ctest checks that none of its programs links such a library.
mkdir -p build/no-pkg-config
PKG_CONFIG_LIBDIR="$root/build/no-pkg-config" CC=clang CXX=clang++ cmake -S "$root" -B build/fuzz \
    -DQUINDLE_WERROR=ON -DQUINDLE_FUZZ=ON -DQUINDLE_FILE_LAYER_ONLY=ON -DQUINDLE_TESTS=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"

# Each build's suite gets a test bed of its own (a fresh sound server and display), so that
# nothing one suite leaves behind can touch the next.
status=0
for dir in $builds; do
    echo "== ctest in $dir"
    scripts/testbed.sh ctest --test-dir "$dir" --output-on-failure -j"$jobs" || status=1
done
# The sound-server cases once more on PipeWire, in the warnings-as-errors tree only.
echo "== ctest -L pipewire in build/werror, PipeWire test bed"
QUINDLE_TESTBED_SERVER=pipewire scripts/testbed.sh \
    ctest --test-dir build/werror --output-on-failure -L pipewire || status=1
echo "== ctest in build/fuzz (file layer alone, no test bed)"
ctest --test-dir build/fuzz --output-on-failure -j"$jobs" || status=1
echo "== fuzz targets, a few seconds each"
fuzz/run.sh 4 || status=1
echo "== install and package checks (Release tree build/release)"
scripts/package_checks.sh || status=1
exit $status
