#!/usr/bin/env bash
# Checks what an install and the Debian package deliver, from the Release tree that
# scripts/package.sh builds: the files an install into a DESTDIR puts in place, the desktop
# entry, the manual page (renders without warnings, documents the README's options, and the
# program accepts each of them), lintian on the .deb, the installed program opening a file
# whose name has blanks, quotes and UTF-8 through its desktop entry, as a desktop's launcher
# runs it, and playing it on the test bed's sink, and the theme's icon being the window's.
# Usage: scripts/package_checks.sh        (starts its own test bed for the playing part)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# The playing part, run inside the test bed: package_checks.sh --play <dir> <installed tree>
if [ "${1:-}" = --play ]; then
    work=$2 tree=$3
    file="$work/Ann's take \"2\" für Ü.wav"
    sox -q -n -r 44100 -c 2 -b 16 "$file" synth 0.5 sine 440
    # quindle64 on the PATH records the arguments the launcher hands over, then runs the
    # installed program, without a display so that any message lands on standard error.
    mkdir -p "$work/path"
    cat >"$work/path/quindle64" <<SHIM
#!/bin/sh
printf '%s\0' "\$@" >"$work/args"
unset DISPLAY
"$tree/usr/bin/quindle64" "\$@" 2>"$work/stderr"
echo \$? >"$work/status"
SHIM
    chmod +x "$work/path/quindle64"
    parec --device=testsink.monitor --format=s16le --rate=44100 --channels=2 >"$work/rec.raw" &
    recorder=$!
    PATH="$work/path:$PATH" XDG_DATA_DIRS="$tree/usr/share" \
        gio launch "$tree/usr/share/applications/quindle64.desktop" "$file"
    for _ in $(seq 1 300); do [ -e "$work/status" ] && break; sleep 0.1; done
    kill "$recorder"; wait "$recorder" 2>/dev/null || true
    status=0
    printf '%s\0' "$file" | cmp -s - "$work/args" ||
        { echo "launcher handed over: $(tr '\0' '|' <"$work/args")"; status=1; }
    [ "$(cat "$work/status" 2>/dev/null)" = 0 ] || { echo "the program did not end with 0"; status=1; }
    [ ! -s "$work/stderr" ] || { echo "the program said:"; cat "$work/stderr"; status=1; }
    peak=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$work/rec.raw" -n stat 2>&1 |
        awk '/Maximum amplitude/ {print $3}')
    awk -v p="${peak:-0}" 'BEGIN { exit !(p > 0.5) }' ||
        { echo "the sink heard nothing (peak ${peak:-none})"; status=1; }
    # The icon in the theme is the one the status window shows: its _NET_WM_ICON, which holds
    # width, height and one 0xAARRGGBB number per pixel.
    "$tree/usr/bin/quindle64" /L '~F440,A-60' &
    program=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --class '^QUINDLE$' | head -n 1)
    shown=$(xprop -id "$window" -notype 32c _NET_WM_ICON | sed 's/^[^=]*= //')
    kill "$program"; wait "$program" || status=1
    theme=$(convert "$tree/usr/share/icons/hicolor/32x32/apps/quindle64.png" -depth 8 rgba:- |
        od -An -v -tu1 -w4 | awk 'BEGIN { printf "32, 32" }
            { printf ", %.0f", $4 * 16777216 + $1 * 65536 + $2 * 256 + $3 } END { print "" }')
    [ "$shown" = "$theme" ] || { echo "the theme's icon differs from the window's"; status=1; }
    exit $status
fi

deb=$("$root/scripts/package.sh" | tail -n 1)
build=$root/build/release
work=$(mktemp -d "${TMPDIR:-/tmp}/qdl-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
tree=$work/root
status=0
check() {  # check <name> <command...>: runs the command, reports its output when it fails
    if out=$("${@:2}" 2>&1); then
        echo "ok   $1"
    else
        echo "FAIL $1"; printf '%s\n' "$out" | sed 's/^/     /'; status=1
    fi
}

DESTDIR=$tree cmake --install "$build" --prefix /usr >/dev/null
expected="usr/bin/quindle64
usr/share/applications/quindle64.desktop
usr/share/doc/quindle64/README.md
usr/share/doc/quindle64/changelog.gz
usr/share/doc/quindle64/copyright
usr/share/icons/hicolor/32x32/apps/quindle64.png
usr/share/man/man1/quindle64.1.gz"
check "install lists exactly the expected files" \
    diff <(echo "$expected") <(cd "$tree" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
check "the package holds the same files" \
    diff <(echo "$expected") <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' |
        LC_ALL=C sort)
check "desktop-file-validate" desktop-file-validate "$tree/usr/share/applications/quindle64.desktop"
man_warnings() {
    local out
    out=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$tree/usr/share/man/man1/quindle64.1.gz" 2>&1 >/dev/null)
    [ -z "$out" ] || { echo "$out"; return 1; }
}
check "man --warnings renders the page without warnings" man_warnings

# The option table: the README's first column, and the manual page's OPTIONS entries with
# their bold and italic parts joined (".BI /I: first , limit , step" is /I:first,limit,step).
readme_options() {
    sed -n 's/^| `\(\/[^`]*\)` |.*/\1/p' "$root/README.md" | tr -d '<>'
}
man_options() {
    zcat "$tree/usr/share/man/man1/quindle64.1.gz" |
        awk '/^\.SH/ { in_options = ($2 == "OPTIONS") } in_options && prev == ".TP" {
                 $1 = ""; gsub(/ /, ""); print } { prev = $0 }'
}
check "the manual page documents the README's options" diff <(readme_options) <(man_options)
# Each README example of an option, given to the installed program without a file name, is
# taken as an option: the program asks for the file name (or lists the devices) and names no
# unknown option.
options_accepted() {
    local example out failed=0
    while read -r example; do
        # shellcheck disable=SC2086  # an example may be two options (/L /I:...)
        out=$(env -u DISPLAY PULSE_SERVER=unix:/nonexistent "$tree/usr/bin/quindle64" $example 2>&1)
        if grep -q 'Unknown option' <<<"$out" ||
            ! grep -q -e 'Missing required parameter' -e 'Device list:' <<<"$out"; then
            echo "$example: $out"; failed=1
        fi
    done < <(sed -n 's/^| `\/[^`]*` | .* | `\([^`]*\)`.*/\1/p' "$root/README.md")
    return $failed
}
check "the installed program takes each documented option" options_accepted
lintian_errors() {
    local out
    out=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'root privileges' || true)
    [ -z "$out" ] || echo "$out"
    ! grep -q '^E:' <<<"$out"
}
check "lintian reports no error" lintian_errors
check "the desktop entry opens a file named with blanks, quotes and UTF-8; it plays; the icon is the window's" \
    "$root/scripts/testbed.sh" "$root/scripts/package_checks.sh" --play "$work" "$tree"
exit $status
