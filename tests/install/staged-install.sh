#!/bin/sh
# Installs the build into a temporary DESTDIR and checks what arrives: exactly the files
# the README lists, all of them under the prefix; the program and the icon the desktop
# entry names; icons of the sizes their folders say; both programs answering --version,
# and the window --help, without a display; and the command-line tool's front linking no
# Qt and finding its full tool (which answers --version itself too).
# Usage: staged-install.sh CMAKE BUILD_DIR README VERSION APP_ID
set -u
cmake=$1 build=$2 readme=$3 version=$4 appid=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage="$work/stage"
failed=0
fail() {
    echo "$*"
    failed=1
}

DESTDIR="$stage" "$cmake" --install "$build" --prefix /usr >"$work/log" 2>&1 ||
    { cat "$work/log"; exit 1; }
root="$stage/usr"

# The README lists the files relative to the prefix, in the fenced block that follows
# the marker line. A file installed outside the prefix keeps its full path here and so
# shows up as a difference.
awk '/<!-- installed files/ { marked = 1; next }
     marked && /^```/ { if (inside) exit; inside = 1; next }
     inside { print }' "$readme" | sort >"$work/expected"
(cd "$stage" && find . -type f -o -type l |
    sed -e 's|^\./usr/||' -e 's|^\./|/|' | sort) >"$work/actual"
[ -s "$work/expected" ] || fail "The README holds no list of installed files."
if ! cmp -s "$work/expected" "$work/actual"; then
    fail "The install differs from the README's list (- README, + install):"
    diff -u "$work/expected" "$work/actual" | tail -n +3
fi

desktop="$root/share/applications/$appid.desktop"
program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -n "$program" ] && [ -x "$root/bin/$program" ] ||
    fail "The desktop entry starts '$program', which is not installed in bin."
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "The desktop entry's icon '$icon' has no scalable image."
# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 48 256; do
    png="$root/share/icons/hicolor/${size}x${size}/apps/$icon.png"
    measured=$(od -An -tu4 --endian=big -j16 -N8 "$png" 2>/dev/null | tr -s ' ')
    [ "$measured" = " $size $size" ] || fail "$png is not $size by $size:$measured"
done

for program in tagcantorell tagcantorell-cli; do
    answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        "$root/bin/$program" --version 2>&1)
    [ "$answer" = "$program $version" ] ||
        fail "'$program --version' without a display said: $answer"
done
full="$root/libexec/tagcantorell/tagcantorell-cli-full"
answer=$("$full" --version 2>&1)
[ "$answer" = "tagcantorell-cli $version" ] || fail "'$full --version' said: $answer"
# The glibc loader lists the libraries a program would load and stops, when asked so.
LD_TRACE_LOADED_OBJECTS=1 "$root/bin/tagcantorell-cli" >"$work/libs" 2>&1
grep -q 'libc\.so' "$work/libs" && ! grep -q 'libQt6' "$work/libs" ||
    fail "bin/tagcantorell-cli should load no Qt: $(cat "$work/libs")"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/tagcantorell" --help \
    >"$work/help" 2>&1 && grep -q 'FILE|FOLDER' "$work/help" ||
    fail "'tagcantorell --help' without a display failed: $(cat "$work/help")"
exit $failed
