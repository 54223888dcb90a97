#!/usr/bin/env bash
# End to end: the real Linux program under Xvfb with trayer as the tray host.
#
#   linux_e2e.sh <quillbeck> <record_start> <linux_close_window> [screenshot.png]
#
# Installed with slot 1 starting record_start: the watch cycle (Temp, the
# command, Debug.log); a close request, as a window manager sends it, hides
# the window and the work goes on; the tray icon's menu "Open" and "Close";
# a left click and a double-click do nothing; a second copy shows the hidden
# window and ends at once; two copies of their own installs on one folder.
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
take_arguments "<quillbeck> <record_start> <linux_close_window> [screenshot.png]" \
  program record_start close_window -- "$@"
screenshot=${4:-}
need_tools Xvfb trayer xdotool xwininfo

make_work e2e
install="$work/install" watch="$work/watch dir" record="$work/record.txt"  # a blank, as users have
mkdir -p "$watch"
install_program "$program" "$install" quillbeck
write_settings "$install/Settings.ini" "Folder 1=$watch" "Shell 1=\"$record_start\" \"$record\" picked" \
  Debug=1
start_xvfb 1024x768x24 || bail "Xvfb did not start"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
start_tray_host || bail "trayer did not start"
start_program "$install/quillbeck"
visible() { xdotool search --onlyvisible --name '^Brindle$' >/dev/null 2>&1; }
wait_for 20 visible
check "the window \"Brindle\" is shown" visible

main_window() { xdotool search --name '^Brindle$' 2>/dev/null | head -n1; }
hidden() { ! visible; }
# tray_icon: the program's small window embedded in trayer's panel.
tray_icon() {
  local w
  for w in $(xdotool search --class quillbeck 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "Brindle" ] && continue
    xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
    local width
    width=$(xwininfo -id "$w" | awk '/Width:/ {print $2}')
    ((width > 0 && width <= 64)) && { echo "$w"; return 0; }
  done
  return 1
}
has_tray_icon() { tray_icon >/dev/null; }
no_tray_icon() { ! has_tray_icon; }
has_menu() {  # a popup (override-redirect) window of the program, not its icon
  local w icon
  icon=$(tray_icon)
  for w in $(xdotool search --onlyvisible --class quillbeck 2>/dev/null); do
    [ "$w" = "$icon" ] && continue
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && return 0
  done
  return 1
}
# point_at_icon: the pointer to the middle of the tray icon.
point_at_icon() {
  local icon X Y WIDTH HEIGHT
  icon=$(tray_icon) || return 1
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
}
# tray_menu <keys...>: right-click the tray icon, then work the menu by keys.
tray_menu() {
  point_at_icon || return 1
  xdotool click 3 || return 1
  wait_for 10 has_menu || return 1
  xdotool key --delay 100 "$@"
}
debug_log="$install/Logs/Debug.log"
check "start-up made the watched folder's Temp" test -d "$watch/Temp"
check "the tray icon is in the tray host" wait_for 10 has_tray_icon
window=$(main_window)
# The client area is 8340 x 8055 twips at the screen's density (Qt's 96 dpi
# times its scale factor).
size=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
expected=$(awk -v s="${QT_SCALE_FACTOR:-1}" 'function r(x) {return int(x + 0.5)}
  BEGIN {print r(8340 * 96 * s / 1440) "x" r(8055 * 96 * s / 1440)}')
check "the client area measures $expected pixels (it measures $size)" test "$size" = "$expected"

if [ -n "$screenshot" ] && [ -n "$window" ]; then
  xdotool mousemove 1000 700  # the pointer away from the controls
  sleep 0.5
  import -window "$window" "$screenshot" && ok "screenshot $screenshot" || not_ok "screenshot"
fi

# --- The watch cycle ----------------------------------------------------------
printf 'first' >"$watch/a.GDT"
printf 'second' >"$watch/b.gdt"
printf 'left alone' >"$watch/c.txt"
check "two files picked up within the ticks" wait_for 15 has_lines "$record" 2
check "a.GDT landed whole in Temp" test "$(cat "$watch/Temp/a.GDT" 2>/dev/null)" = first
check "b.gdt landed in Temp" test "$(cat "$watch/Temp/b.gdt" 2>/dev/null)" = second
check "picked files left the watched folder" test ! -e "$watch/a.GDT" -a ! -e "$watch/b.gdt"
check "other files stay" test -e "$watch/c.txt" -a ! -e "$watch/Temp/c.txt"
check "the command recorded each start" test "$(cat "$record")" = "$(printf 'picked\npicked')"
for line in "Start Service" "Load Settings" "Done" "Start Timer" "Timer started" \
  "Check folder: $watch" "File: a.GDT" "Delete $watch/a.GDT" "Shell \"$record_start\""; do
  check "Debug.log has \"$line\"" has_line "$debug_log" " - $line"
done
check "no error was logged" test ! -s "$install/Logs/Error.log"

# --- A close request hides; the service runs on -------------------------------
"$close_window" "$window"
check "a close request hides the window" wait_for 10 hidden
check "the process stays after the close request" alive "$program_pid"
printf 'third' >"$watch/d.GDT"
check "files are picked up while hidden" wait_for 15 has_lines "$record" 3
check "the tray icon stays while hidden" has_tray_icon

# --- Left click and double-click on the icon do nothing -----------------------
point_at_icon
xdotool click 1
sleep 0.5
xdotool click --repeat 2 --delay 80 1
sleep 1
check "a left click and a double-click leave the window hidden" hidden
check "and open no menu" eval '! has_menu'

# --- Right-click: "Open" --------------------------------------------------------
check "right-click on the icon opens the menu; Open is picked" tray_menu Down Return
check "\"Open\" shows the window again" wait_for 10 visible
check "the program still runs" alive "$program_pid"

# --- A second copy shows the hidden window and ends at once ----------------------
"$close_window" "$window"
check "a close request hides the window again" wait_for 10 hidden
timeout 20 "$install/quillbeck" >"$work/second.log" 2>&1
status=$?
check "a second copy ends at once and quietly (status $status)" test "$status" -eq 0
check "the first copy runs on" alive "$program_pid"
check "and shows its window, as \"Open\" does" wait_for 10 visible
count=0
for w in $(xdotool search --class quillbeck 2>/dev/null); do
  xwininfo -id "$w" 2>/dev/null | grep -q 'IsViewable' && [ "$(xwininfo -id "$w" | awk '/Width:/ {print $2}')" -le 64 ] &&
    count=$((count + 1))
done
check "still a single tray icon" test "$count" -eq 1

# --- Right-click: "Close" ---------------------------------------------------------
check "right-click on the icon opens the menu; Close is picked" tray_menu Down Down Return
check "\"Close\" ends the program" wait_for 10 ended "$program_pid"
check "and its icon has left the tray" wait_for 10 no_tray_icon
check "nothing was saved on the way out" \
  test "$(tr -d '\r' <"$install/Settings.ini" | grep -c .)" -eq 4

# --- Two copies on one folder (two machines, two sessions) ---------------------------
# Each copy has its own install; both watch one folder. Every file is taken
# by one of them, and the other's loss of the race is no error.
shared="$work/shared" staging="$work/staging" shared_record="$work/shared-record.txt"
mkdir -p "$shared/Temp" "$staging"
for copy in one two; do
  install_program "$program" "$work/$copy" quillbeck
  write_settings "$work/$copy/Settings.ini" "Folder 1=$shared" \
    "Shell 1=\"$record_start\" \"$shared_record\" $copy"
  start_program "$work/$copy/quillbeck"
done
sleep 3
for i in $(seq 300); do echo "$i" >"$staging/$i.GDT"; done
mv "$staging"/*.GDT "$shared/"  # each file arrives whole, in one rename
check "two copies on one folder take all 300 files" wait_for 60 has_lines "$shared_record" 300
sleep 4
check "each file was started once, by one copy" test "$(lines_of "$shared_record")" = 300
check "each file is in Temp" test "$(ls "$shared/Temp" | grep -c '\.GDT$')" = 300
check "neither copy logged an error" test ! -s "$work/one/Logs/Error.log" -a ! -s "$work/two/Logs/Error.log"

finish "$work/program.log" "$debug_log" "$install/Logs/Error.log"
