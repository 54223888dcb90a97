#!/usr/bin/env bash
# Photographs Quillbeck.exe's window as Wine draws it at 96 dpi, frame and
# caption included (Wine's own desktop window draws the frame), for the docs.
#
#   take_screenshot.sh <Quillbeck.exe> <win_post.exe> <output.png>
#
# Runs in a Wine prefix of its own on a private Xvfb display; bounded waits.
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
take_arguments "Quillbeck.exe win_post.exe output.png" program win_post -- "$@"
output=$3
make_work shot
use_wine_prefix "${QUILLBECK_SHOT_WINEPREFIX:-${TMPDIR:-/tmp}/quillbeck-wine-shot-$(id -u)}"
start_xvfb 1024x768x24 -dpi 96 || bail "Xvfb did not start"
install_program "$program" "$work/app" Quillbeck.exe
write_settings "$work/app/Settings.ini" 'Folder 1=C:\Lab\Export' 'Shell 1=C:\Lab\Import.exe /auto' \
  Debug=0
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
