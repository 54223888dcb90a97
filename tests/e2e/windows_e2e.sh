#!/usr/bin/env bash
# End to end: Quillbeck.exe under Wine on a private X display (Xvfb) with a
# tray host (trayer): the watch cycle (Temp, the commands, the trace); the
# window, the real tray icon and its menu driven with the mouse and keyboard
# (xdotool) and with messages (win_post); a second copy, a close request,
# "Close" and the end of a session.
#
#   windows_e2e.sh <Quillbeck.exe> <record_start.exe> <win_post.exe>
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
take_arguments "Quillbeck.exe record_start.exe win_post.exe" program record_start win_post -- "$@"

make_work e2e
use_wine_prefix
app="$work/app" record="$work/record.txt" debug_log="$work/app/Logs/Debug.log"
mkdir -p "$work/watch1" "$work/watch2" "$work/watch3"
touch "$work/watch3/Temp"  # a file named Temp: start-up stops at that slot (at the end)
install_program "$program" "$app" Quillbeck.exe
recorder="$(windows_path "$record_start") $(windows_path "$record")"
write_settings "$app/Settings.ini" Debug=1 "Folder 1=$(windows_path "$work/watch1")" \
  "Shell 1=$recorder slot1" "Folder 2=$(windows_path "$work/watch2")" "Shell 2=$recorder slot2"
start_xvfb 1280x1024x24 -dpi 96 || bail "Xvfb did not start"
# Wine docks an icon only into a tray host that is ready: trayer goes first.
start_tray_host || { sed 's/^/  /' "$work/trayer.log"; bail "no tray host"; }
# A Wine process that outlives every start of Quillbeck keeps Wine's side of
# the tray running, so the removal of the icon can be seen.
touch "$work/hold"
"$wine_run" "$record_start" "$(windows_path "$work/keeper.txt")" --wait-while \
  "$(windows_path "$work/hold")" >/dev/null 2>&1 &
end_on_exit $!
wait_for 90 test -s "$work/keeper.txt" || echo "the keeper did not start" >&2
# With no window manager the keyboard focus follows the pointer: keep it over
# the place where the window will show.
xdotool mousemove 200 200
start_program "$app/Quillbeck.exe"
main=$program_pid
window_shows() { xdotool search --name '^Brindle$' >/dev/null 2>&1; }
check "the window \"Brindle\" shows" wait_for 90 window_shows
on_failure() {
  echo "       window now: $(wp state)"
  echo "       record now: $(tr -d '\r' <"${record:-/dev/null}" 2>/dev/null | tr '\n' ' ')"
}
state_has() { wp state | grep -q -- "$1"; }
windows_named() { xdotool search --name "^$1\$" 2>/dev/null | wc -l; }
# docked_icons: the Wine icons docked in the tray host, one "x y" (their
# middle, on the screen) per line.
docked_icons() {
  local panel
  panel=$(xdotool search --name '^panel$' 2>/dev/null | head -1)
  [ -n "$panel" ] || return 0
  xwininfo -tree -id "$panel" 2>/dev/null | awk '/"explorer.exe"/ {
    split($(NF-1), size, "[x+]"); split($NF, at, "+");
    print at[2] + int(size[1] / 2), at[3] + int(size[2] / 2) }'
}
icon_count_is() { [ "$(docked_icons | wc -l)" = "$1" ]; }
# tray_dump: what Wine and the tray host show, for a failure's report.
tray_dump() {
  xwininfo -root -tree | grep -E '"(explorer|quillbeck).exe"|trayer' | grep -v ' 1x1+' \
    | sed 's/^/       /'
  sed 's/^/       trayer: /' "$work/trayer.log"
}
# click_control <id>: a real left click in the middle of a control.
click_control() {
  local x y w h
  read -r x y w h < <(wp rect "$1")
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}
check "at normal size, the service running" \
  wait_for 10 state_has 'visible=1 iconic=0 .*start=Stop Service'
# Without a window manager Wine does not always activate a new window; a
# click on a bare spot of it does, and the focus is then cmdStart's.
read -r client_x client_y _ < <(wp rect 0)
xdotool mousemove $((client_x + 4)) $((client_y + 4)) click 1 mousemove 200 200
check "cmdStart has the focus" wait_for 10 state_has 'focus=100'
check "start-up created the missing Temp folders" \
  test -d "$work/watch1/Temp" -a -d "$work/watch2/Temp"
startup_trace() {
  grep -o -E 'Start Service|Load Settings|Done|Start Timer' "$debug_log" | head -4 | tr '\n' ,
}
check "start-up traced its four lines in order" \
  test "$(startup_trace)" = "Start Service,Load Settings,Done,Start Timer,"
if wait_for 10 icon_count_is 1; then
  ok "the tray icon is docked in the tray host"
else
  not_ok "the tray icon is docked in the tray host"
  tray_dump
fi

# --- keyboard: Tab walks from cmdStart to the first text boxes -----------------
# Done before any command starts, since a started command takes the focus.
# A real key press first (the pointer rests on the window, so the X focus is
# there), then one posted to the focused control; both go through the
# program's own message loop and the dialog manager.
xdotool key Tab
check "a real Tab moves the focus from cmdStart to txtFolder(1)" \
  wait_for 5 state_has 'focus=111'
wp key tab
check "and the next to txtShell(1)" wait_for 5 state_has 'focus=121'

# --- the watch cycle ---------------------------------------------------------
printf 'one' >"$work/watch1/a.GDT"
printf 'two' >"$work/watch1/b.gdt"
printf 'three' >"$work/watch2/c.Gdt"
printf 'keep' >"$work/watch1/keep.txt"
check "three files picked up, a command started for each" wait_for 20 count_is "$record" slot 3
check "the files were moved into Temp whole" eval \
  'file_is "$work/watch1/Temp/a.GDT" one && file_is "$work/watch1/Temp/b.gdt" two &&
   file_is "$work/watch2/Temp/c.Gdt" three && [ ! -e "$work/watch1/a.GDT" ] &&
   [ ! -e "$work/watch2/c.Gdt" ]'
check "each slot started its own command" eval \
  'count_is "$record" slot1 2 && count_is "$record" slot2 1'
check "a file of another name stays" test -e "$work/watch1/keep.txt"
check "the tick traced file, copy, delete and shell" eval \
  'grep -q "File: c.Gdt" "$debug_log" && grep -q "Copy c.Gdt in .*watch2.Temp.$" <(tr -d "\r" <"$debug_log") &&
   grep -q "Delete .*watch2.c.Gdt" "$debug_log" && grep -q "Shell .*slot2" "$debug_log"'

# --- a close request hides the window; the service goes on ---------------------
wp close
check "a close request hides the window" wait_for 10 state_has 'visible=0'
check "and the program stays" alive "$main"
printf 'four' >"$work/watch2/d.GDT"
check "the service works on while hidden" wait_for 20 count_is "$record" slot 4

# --- the real tray icon: left clicks do nothing, a right click opens the menu ----
wait_for 10 icon_count_is 1
read -r icon_x icon_y < <(docked_icons | head -1)
if [ -n "${icon_x:-}" ]; then
  xdotool mousemove "$icon_x" "$icon_y" click 1 sleep 0.5 click --repeat 2 --delay 80 1
  sleep 1
  check "a left click and a double-click on the icon do nothing" state_has 'visible=0'
  # right_click_menu: a real right click on the icon, then the menu's
  # rectangle. Tried twice: the tray host may still be laying its icons out.
  right_click_menu() {
    local x y
    read -r x y < <(docked_icons | head -1)
    xdotool mousemove "$x" "$y" click 3
    wp menu
  }
  menu_rect=$(right_click_menu) || menu_rect=$(right_click_menu)
  if read -r mx my mw mh <<<"$menu_rect" && [ -n "${mh:-}" ]; then
    ok "a real right click on the icon opens the menu"
    check "at the pointer" test $((icon_x - mx)) -le "$mw" -a $((my - icon_y)) -le 30
    # "Open" is the upper of the two items.
    xdotool mousemove $((mx + mw / 2)) $((my + mh / 4)) click 1
    check "a real click on \"Open\" shows the window again" wait_for 10 state_has 'visible=1'
  else
    not_ok "a real right click on the icon opens the menu"
    tray_dump
  fi
else
  not_ok "no docked icon to click"
fi

# --- the menu by messages: dismissing it, "Open" on a minimised window ------------
wp state | grep -q 'visible=1' || { wp tray 516; wp menu down return >/dev/null; }
wp tray 516
wp menu escape >/dev/null
sleep 0.5
check "a dismissed menu leaves the window as it was" state_has 'visible=1 iconic=0'
wp minimize
check "the window minimises" wait_for 10 state_has 'iconic=1'
wp tray 516
wp menu down return >/dev/null
check "\"Open\" brings a minimised window back at normal size" \
  wait_for 10 state_has 'visible=1 iconic=0'

# --- Save by a real click, and its message box --------------------------------
click_control 101
box=$(wp box wait)
check "Save answers \"Successfully saved.\" in a box owned by the window" \
  grep -q 'owned=1 text=Successfully saved.' <<<"$box"
printf 'five' >"$work/watch1/e.GDT"
check "ticks go on while the box is open" wait_for 20 count_is "$record" slot 5
wp box >/dev/null
check "Save wrote the eleven keys" eval \
  'grep -q "^Debug=1" "$app/Settings.ini" && grep -q "^Shell 2=.*slot2" "$app/Settings.ini" &&
   [ "$(grep -c -E "^(Folder|Shell) [1-5]=" "$app/Settings.ini")" = 10 ]'

# --- Stop and Start by real clicks ----------------------------------------------
click_control 100
check "a click on \"Stop Service\" stops the service" wait_for 10 state_has 'start=Start Service'
click_control 100
check "a second click starts it again" wait_for 10 state_has 'start=Stop Service'

# --- a second copy shows the hidden window and ends at once ------------------------
wp close
check "a close request hides the window again" wait_for 10 state_has 'visible=0'
settings_before=$(cat "$app/Settings.ini")
"$wine_run" --timeout 60 "$app/Quillbeck.exe" >/dev/null 2>&1
status=$?
check "a second copy ends by itself (status $status)" test "$status" -eq 0
check "the first copy runs on, with one window" eval \
  'alive "$main" && [ "$(windows_named Brindle)" = 1 ]'
check "and shows it, as \"Open\" does, the service running on" \
  wait_for 10 state_has 'visible=1 iconic=0 .*start=Stop Service'
check "the second copy changed no setting" test "$(cat "$app/Settings.ini")" = "$settings_before"
if wait_for 10 icon_count_is 1; then ok "and one icon"; else not_ok "and one icon"; tray_dump; fi

# --- "Close" ends the program and takes the icon away -----------------------------
wp tray 516
wp menu down down return >/dev/null
check "\"Close\" ends the program" wait_for 20 ended "$main"
check "and its icon is gone from the tray" wait_for 10 icon_count_is 0

# --- the end of the session ends the program --------------------------------------
start_program "$app/Quillbeck.exe"
main=$program_pid
wait_for 60 window_shows
answer=$(wp endsession)
check "the program lets the session end" grep -q 'query=1' <<<"$answer"
check "and ends with it" wait_for 20 ended "$main"

# --- a failed start-up step: a file named Temp in a watched folder -------------------
write_settings "$app/Settings.ini" "Folder 1=$(windows_path "$work/watch3")" "Shell 1=x"
start_program "$app/Quillbeck.exe"
main=$program_pid
box=$(wp box)
check "a failed start-up shows the trap's box, standing alone" grep -q 'owned=0 text=.* - ' <<<"$box"
check "and logs it under Form_Load" wait_for_line 10 "$app/Logs/Error.log" Form_Load
check "the window is shown after it all the same" wait_for 20 state_has 'visible=1'
rm -f "$work/hold"

finish "$debug_log" "$app/Logs/Error.log"
