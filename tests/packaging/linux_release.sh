#!/usr/bin/env bash
# The Debian package as a user gets it:
#   linux_release.sh [quillbeck_<version>_amd64.deb]
# Without a package it builds one (packaging/linux/build-deb). Checks that
# lintian reports no error; that the package holds the program, the desktop
# and autostart entries (both valid), the icons, the copyright and changelog
# and the manual page, carries the project's version and computed
# dependencies, and marks the autostart entry as a conffile; then runs the
# extracted program with a fresh HOME under Xvfb: with no settings of the
# user's own, a slot configured in a system-wide quillbeck/Settings.ini found
# through XDG_CONFIG_DIRS (which the package does not ship) picks up a file,
# the trace lands in ~/.local/state/quillbeck/Logs/, a second copy of the
# same user ends at once, and Save from the window writes
# ~/.config/quillbeck/Settings.ini, which the next start reads, and leaves
# the system-wide file as it was. Nothing is written beside the program.
# Every wait is bounded; everything started here is ended on the way out.
# The last line counts the checks.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/support/e2e.sh"
checks_name=packaging
make_work deb

version=$(sed -n 's/^project(Quillbeck VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [ $# -ge 1 ]; then
  deb=$(readlink -f "$1")
else
  "$root/packaging/linux/build-deb" "$work/dist" >"$work/build.log" 2>&1 ||
    { cat "$work/build.log"; not_ok "the package builds"; finish; }
  deb=$work/dist/quillbeck_${version}_amd64.deb
fi
check "the package is named quillbeck_${version}_amd64.deb" test "$(basename "$deb")" = "quillbeck_${version}_amd64.deb"
[ -f "$deb" ] || { not_ok "the package $deb exists"; finish; }

# --- lintian ----------------------------------------------------------------
# Its exit status says whether it ran and found no error; its tags say which.
lintian --fail-on error --display-info "$deb" >"$work/lintian.txt" 2>&1
lintian_status=$?
echo "--- lintian"; cat "$work/lintian.txt"; echo "---"
check "lintian reports no error (status $lintian_status)" \
  eval '[ "$lintian_status" -eq 0 ] && ! grep -q "^E: " "$work/lintian.txt"'

# --- What the package holds -------------------------------------------------
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
holds() { grep -qxF "$1" "$work/contents"; }
expected=(
  /usr/bin/quillbeck
  /usr/share/applications/quillbeck.desktop
  /etc/xdg/autostart/quillbeck.desktop
  /usr/share/icons/hicolor/scalable/apps/quillbeck.svg
  /usr/share/doc/quillbeck/copyright
  /usr/share/doc/quillbeck/changelog.gz
  /usr/share/man/man1/quillbeck.1.gz
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/quillbeck.png")
done
for path in "${expected[@]}"; do check "the package holds $path" holds "$path"; done
check "the package holds no system-wide settings (the administrator's)" \
  eval '! grep -q "^/etc/xdg/quillbeck" "$work/contents"'
field() { dpkg-deb -f "$deb" "$1"; }
check "its version is the project's, $version" test "$(field Version)" = "$version"
check "its dependencies are computed (Qt Widgets, the C library)" \
  eval 'field Depends | grep -q "libqt6widgets6" && field Depends | grep -q "libc6 (>="'
check "it recommends Qt's Wayland platform" eval 'field Recommends | grep -qw qt6-wayland'
check "the autostart entry is a conffile" \
  eval 'dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/xdg/autostart/quillbeck.desktop'

extracted=$work/root
mkdir -p "$extracted"
dpkg-deb -x "$deb" "$extracted" || { not_ok "the package unpacks"; finish; }
for entry in usr/share/applications/quillbeck.desktop etc/xdg/autostart/quillbeck.desktop; do
  check "desktop-file-validate passes /$entry" desktop-file-validate "$extracted/$entry"
done
check "the changelog names version $version first" \
  eval 'zcat "$extracted/usr/share/doc/quillbeck/changelog.gz" | head -n1 | grep -q "^quillbeck ($version) "'
for size in 16 32 256; do
  png=$extracted/usr/share/icons/hicolor/${size}x${size}/apps/quillbeck.png
  check "the ${size}x${size} icon is ${size} x ${size}" \
    test "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${size}x${size}"
done

# The window's icon comes from the same art: one image, as the window and the
# tray show it.
check "the Windows icon is a single 32 x 32 image in 256 colours" test \
  "$(icotool -l "$root/packaging/icons/quillbeck.ico" 2>&1)" = \
  "--icon --index=1 --width=32 --height=32 --bit-depth=8 --palette-size=256"

# --- The extracted program for a user with a fresh HOME ---------------------
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { not_ok "$tool is installed"; finish; }
done
program=$extracted/usr/bin/quillbeck
export HOME=$work/home
unset XDG_CONFIG_HOME XDG_STATE_HOME XDG_DATA_HOME XDG_CACHE_HOME WAYLAND_DISPLAY QT_QPA_PLATFORM \
  QT_SCALE_FACTOR
config=$HOME/.config/quillbeck
state=$HOME/.local/state/quillbeck
watch=$work/watch
record=$work/record.txt
# The system-wide default, in the second entry of the search path.
export XDG_CONFIG_DIRS=$work/xdg-empty:$work/xdg
system_settings=$work/xdg/quillbeck/Settings.ini
mkdir -p "$work/xdg/quillbeck" "$watch"
write_settings "$system_settings" "Folder 1=$watch" "Shell 1=sh -c 'echo picked >> $record'" Debug=1
cp "$system_settings" "$work/system-settings.before"

start_xvfb 1024x768x24 || { not_ok "Xvfb starts"; finish; }

start_program "$program"
main_window() { xdotool search --onlyvisible --name '^Brindle$' 2>/dev/null | head -n1; }
visible() { [ -n "$(main_window)" ]; }
debug_log=$state/Logs/Debug.log
mode_of() { stat -c %a "$1" 2>/dev/null; }

check "the window is shown" wait_for 20 visible
printf 'dropped' >"$watch/a.GDT"
check "the configured slot picks up a file" wait_for 15 test -s "$record"
check "the file landed in Temp" test "$(cat "$watch/Temp/a.GDT" 2>/dev/null)" = dropped
check "the trace is in ~/.local/state/quillbeck/Logs/Debug.log" wait_for_line 5 "$debug_log" " - File: a.GDT"
check "start-up made ~/.local/state/quillbeck private (mode $(mode_of "$state"))" \
  test "$(mode_of "$state")" = 700
check "no error was logged" test ! -s "$state/Logs/Error.log"

timeout 20 "$program" >"$work/second.log" 2>&1
status=$?
check "a second copy for the same user ends at once (status $status)" test "$status" -eq 0
check "the first copy runs on" alive "$program_pid"

# Save: a new folder text in slot 2, then the Save button, clicked where the
# window's twips put them (96 dpi: 15 twips to the pixel).
window=$(main_window)
saved_folder=$work/saved-by-the-window
mkdir "$saved_folder"
at_twips() { xdotool mousemove --sync --window "$window" $(($1 / 15)) $(($2 / 15)) click 1; }
at_twips $((1395 + 6675 / 2)) $((1485 + 375 / 2))   # txtFolder_2
xdotool type --delay 20 "$saved_folder"
at_twips $((1395 + 3030 / 2)) $((7200 + 780 / 2))   # cmdSave
saved() { tr -d '\r' <"$config/Settings.ini" | grep -qxF "Folder 2=$saved_folder"; }
check "Save writes ~/.config/quillbeck/Settings.ini" wait_for 10 saved
check "and keeps slot 1 there" eval 'tr -d "\r" <"$config/Settings.ini" | grep -qxF "Folder 1=$watch"'
check "the system-wide settings are unchanged" cmp -s "$system_settings" "$work/system-settings.before"
message_box() { xdotool search --onlyvisible --name '^Quillbeck$' >/dev/null 2>&1; }
check "Save reports its success in a message box" wait_for 10 message_box
check "nothing was written beside the program" \
  test "$(ls -A "$extracted/usr/bin")" = quillbeck

# Once saved, the user's own file is what the next start reads: only it
# names slot 2, whose folder then gets its Temp.
end_processes "$program_pid"
start_program "$program"
check "the next start reads the user's file, not the system-wide one" \
  wait_for 20 test -d "$saved_folder/Temp"

finish "$work/program.log" "$config/Settings.ini" "$debug_log" "$state/Logs/Error.log"
