#!/usr/bin/env bash
# Checks what an install and the Debian package deliver, from the package that
# scripts/package.sh builds with dpkg-buildpackage (and its cmake tree): the files an install
# into a DESTDIR puts in place, the desktop entry, the manual page (renders without warnings,
# documents the README's options, and the program accepts each of them), lintian on the
# packages, the installed program opening a file whose name has blanks, quotes and UTF-8
# through its desktop entry, as a desktop's launcher runs it, and playing it on the test bed's
# sink, and under a window manager its windows' WM_CLASS and icon matching the desktop entry
# and the icon theme.
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
    # Under the window manager, the status window, a box and the device list carry the WM_CLASS
    # class that the desktop entry's StartupWMClass names; the status window's icon is the
    # theme's: its _NET_WM_ICON holds width, height and one 0xAARRGGBB number per pixel.
    export DISPLAY=$QUINDLE_WM_DISPLAY
    wm_class=$(sed -n 's/^StartupWMClass=//p' "$tree/usr/share/applications/quindle64.desktop")
    [ -n "$wm_class" ] || { echo "the desktop entry names no StartupWMClass"; status=1; }
    shown=
    for run in 'Quindle64.exe Version 1.14|/L|~F440,A-60' 'Quindle64.exe Version 1.14|/X' 'Dialog|/E'; do
        IFS='|' read -r -a words <<<"$run"
        "$tree/usr/bin/quindle64" "${words[@]:1}" &
        program=$!
        window=$(timeout 20 xdotool search --sync --onlyvisible --name "^${words[0]}\$" | head -n 1)
        shown_class=$(xprop -id "$window" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\(.*\)"$/\1/p')
        [ "$shown_class" = "$wm_class" ] ||
            { echo "${words[*]:1}: WM_CLASS $(xprop -id "$window" WM_CLASS)"; status=1; }
        [ "${words[1]}" != /L ] || shown=$(xprop -id "$window" -notype 32c _NET_WM_ICON | sed 's/^[^=]*= //')
        kill "$program"; wait "$program" || status=1
    done
    theme=$(convert "$tree/usr/share/icons/hicolor/32x32/apps/quindle64.png" -depth 8 rgba:- |
        od -An -v -tu1 -w4 | awk 'BEGIN { printf "32, 32" }
            { printf ", %.0f", $4 * 16777216 + $1 * 65536 + $2 * 256 + $3 } END { print "" }')
    [ "$shown" = "$theme" ] || { echo "the theme's icon differs from the window's"; status=1; }
    exit $status
fi

deb=$("$root/scripts/package.sh" | tail -n 1)
changes=${deb%.deb}.changes
build=$(echo "$(dirname "$deb")"/quindle64-*/obj-*)  # the package's cmake tree
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
# The package's documents are compressed as Debian's policy asks (README.md too).
check "the package holds the same files" \
    diff <(sed 's|README\.md$|&.gz|' <<<"$expected") \
        <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' | LC_ALL=C sort)
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
# Every tag lintian shows, pedantic ones included; an error, a warning or a hardening tag fails.
lintian_clean() {
    local out
    out=$(lintian --pedantic --tag-display-limit 0 "$changes" 2>&1 | grep -v 'root privileges' || true)
    [ -z "$out" ] || echo "$out"
    ! grep -q -e '^[EW]:' -e 'hardening' <<<"$out"
}
check "lintian --pedantic on the .changes and its packages: no error, warning or hardening tag" \
    lintian_clean
check "the desktop entry opens a file named with blanks, quotes and UTF-8; it plays; WM_CLASS and icon match the entry and the theme" \
    "$root/scripts/testbed.sh" "$root/scripts/package_checks.sh" --play "$work" "$tree"
exit $status
