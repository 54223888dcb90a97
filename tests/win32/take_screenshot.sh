#!/usr/bin/env bash
# Photographs Quillbeck.exe's window as Wine draws it at 96 dpi, frame and
# caption included (Wine's own desktop window draws the frame), for the docs.
#
#   take_screenshot.sh <Quillbeck.exe> <win_post.exe> <output.png>
#
# Runs in a Wine prefix of its own on a private Xvfb display; bounded waits.
set -uo pipefail
[ $# -eq 3 ] || { echo "usage: $0 Quillbeck.exe win_post.exe output.png" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run"
program=$(realpath "$1") win_post=$(realpath "$2") output=$3
export WINEPREFIX=${QUILLBECK_SHOT_WINEPREFIX:-${TMPDIR:-/tmp}/quillbeck-wine-shot-$(id -u)}
export WINEDEBUG=-all
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-shot.XXXXXX")
xvfb=
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

display=
for n in $(seq 141 190); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
done
Xvfb ":$display" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done

mkdir -p "$work/app"
cp "$program" "$work/app/Quillbeck.exe"
printf '[Quillbeck]\r\nFolder 1=C:\\Lab\\Export\r\nShell 1=C:\\Lab\\Import.exe /auto\r\nDebug=0\r\n' \
  >"$work/app/Settings.ini"
desktop="Quillbeck,800x700"
"$wine_run" --timeout 300 explorer "/desktop=$desktop" "$work/app/Quillbeck.exe" >/dev/null 2>&1 &
rect=
for _ in $(seq 120); do
  rect=$("$wine_run" --timeout 30 explorer "/desktop=$desktop" "$win_post" rect -1 2>/dev/null \
    | tr -d '\r')
  [ -n "$rect" ] && break
  sleep 0.5
done
[ -n "$rect" ] || { echo "the window did not show" >&2; exit 1; }
read -r x y w h <<<"$rect"
sleep 1  # let the last repaint land
root=$(xdotool search --name 'Wine desktop' | head -1)
import -window "${root:-root}" "$work/desktop.png"
convert "$work/desktop.png" -crop "${w}x${h}+${x}+${y}" +repage "$output"
echo "wrote $output (${w}x${h})"
