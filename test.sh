#!/usr/bin/env bash
# Installs what is missing, then:
#  1. build/check: one clang tree with warnings as errors, AddressSanitizer and
#     UndefinedBehaviorSanitizer, and the libFuzzer targets (QUINDLE_FUZZ); its whole suite runs
#     under ctest inside the private test bed (its own sound server and display,
#     scripts/testbed.sh), the end-to-end tests included (once, here);
#  2. build/tsan: ThreadSanitizer, only the threaded platform and engine tests (label platform);
#  3. the sound-server tests once more with PipeWire as the server (label pipewire, build/check);
#  4. the fuzz targets, a few seconds each;
#  5. build/file-layer: the file layer alone configured with pkg-config shown no module at all,
#     which proves its build asks for no window, audio or decoding package; build/check's
#     ctest already checks that none of the file layer's programs links such a library;
#  6. the install and the Debian package, built by dpkg-buildpackage in build/deb
#     (scripts/package_checks.sh).
# The long soak runs (label soak) are left out: scripts/testbed.sh ctest --test-dir build/check
# -L soak. QUINDLE_NO_TSAN=1 leaves out the ThreadSanitizer tree.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

scripts/deps.sh test

jobs=$(nproc)
stage_start=$SECONDS
stage() {  # stage <name>: names the next stage and the seconds since the start
    echo "== $1 (at $((SECONDS - stage_start)) s)"
}

stage "configure build/file-layer (file layer alone, no pkg-config module)"
mkdir -p build/no-pkg-config
PKG_CONFIG_LIBDIR="$root/build/no-pkg-config" cmake -S "$root" -B build/file-layer \
    -DQUINDLE_WERROR=ON -DQUINDLE_FILE_LAYER_ONLY=ON -DQUINDLE_TESTS=ON >/dev/null

stage "build build/check (clang, warnings as errors, ASan+UBSan, fuzz targets)"
CC=clang CXX=clang++ cmake -S "$root" -B build/check -DCMAKE_BUILD_TYPE=Debug \
    -DQUINDLE_WERROR=ON -DQUINDLE_ALSA=ON -DQUINDLE_FUZZ=ON \
    -DQUINDLE_SANITIZE=address,undefined,float-cast-overflow >/dev/null
cmake --build build/check -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"

# Each ctest run gets a test bed of its own (a fresh sound server and display), so that
# nothing one run leaves behind can touch the next.
status=0
stage "ctest in build/check"
scripts/testbed.sh ctest --test-dir build/check --output-on-failure -j"$jobs" -LE soak ||
    status=1

if [ -z "${QUINDLE_NO_TSAN:-}" ]; then
    stage "build build/tsan (ThreadSanitizer, the platform and engine tests)"
    cmake -S "$root" -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DQUINDLE_WERROR=ON \
        -DQUINDLE_ALSA=ON -DQUINDLE_SANITIZE=thread >/dev/null
    cmake --build build/tsan -j"$jobs" --target platform_tests
    stage "ctest -L platform in build/tsan"
    scripts/testbed.sh ctest --test-dir build/tsan --output-on-failure -j"$jobs" -L platform ||
        status=1
fi

stage "ctest -L pipewire in build/check, PipeWire test bed"
QUINDLE_TESTBED_SERVER=pipewire scripts/testbed.sh \
    ctest --test-dir build/check --output-on-failure -L pipewire || status=1

stage "fuzz targets, a few seconds each"
QUINDLE_FUZZ_BUILD="$root/build/check" QUINDLE_FUZZ_NICE=0 fuzz/run.sh 4 || status=1
stage "install and package checks (dpkg-buildpackage in build/deb)"
scripts/package_checks.sh || status=1
stage "done"
exit $status
