#!/usr/bin/env bash
# End to end on today's Linux desktop: the real program on Wayland under
# sway with waybar's tray as the StatusNotifierItem host (e2e.sh's
# start_sway_desktop, as an unprivileged user when run as root).
#
#   wayland_tray_e2e.sh <quillbeck> <wayland_pointer> [screenshot.png]
#
# The program starts before the bar, so at first there is no tray host;
# then the bar starts, and restarts. The pointer is driven by sway's own
# commands (swaymsg seat ... cursor), the screen read with grim; the
# optional third argument keeps a picture of the open menu.
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
take_arguments "<quillbeck> <wayland_pointer> [screenshot.png]" program pointer_helper -- "$@"
screenshot=${3:-}
need_tools sway swaymsg waybar grim dbus-daemon dbus-send convert
test -x "$pointer_helper" || skip "$pointer_helper was not built"

make_work wayland
install="$work/install"
install_program "$program" "$install" quillbeck
write_settings "$install/Settings.ini" Debug=1
cp "$install/Settings.ini" "$work/settings-before"
start_sway_desktop "$pointer_helper"
desktop_owns "$install"

# --- The program starts before any tray host --------------------------------------
# A close request must not hide the window then, and a second start ends at
# once.
as_user_exec env QT_QPA_PLATFORM=wayland QT_LOGGING_RULES='qt.core.qobject.connect=false' \
  "$install/quillbeck" >"$work/quillbeck.log" 2>&1 &
program_pid=$!
end_on_exit "$program_pid"
# windows: how many windows of the program sway manages (a titled window of
# any kind, the main window or a menu shown as one).
windows() { as_user swaymsg -t get_tree | grep -c '"app_id": "quillbeck"'; }
window_shown() { [ "$(windows)" -eq 1 ]; }
check "the window \"Brindle\" is shown on Wayland" wait_for 20 window_shown

# --- What the checks look at ------------------------------------------------------
window_hidden() { [ "$(windows)" -eq 0 ]; }
items() {
  as_user dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
    /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
    string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems 2>/dev/null |
    grep -c 'StatusNotifierItem'
}
item_registered() { [ "$(items)" -ge 1 ]; }
no_item() { [ "$(items)" -eq 0 ]; }
picture() { as_user grim - >"$1" 2>/dev/null; }
# The bar is 30 pixels high at the top of the 1024 x 768 screen; its tray
# sits at its right end.
icon_x=1002 icon_y=15
# icon_drawn: the tray's corner of the bar shows more than the bar's colour.
icon_drawn() {
  picture "$work/bar.png" || return 1
  local spread
  spread=$(convert "$work/bar.png" -crop 30x26+990+2 -colorspace gray \
    -format '%[fx:int(1000*standard_deviation)]' info:)
  [ "${spread:-0}" -gt 100 ]
}
click() {  # click <x> <y> <button>
  swaycmd seat seat0 cursor set "$1" "$2"
  swaycmd seat seat0 cursor press "button$3"
  swaycmd seat seat0 cursor release "button$3"
}
close_request() { swaycmd '[app_id="quillbeck"] kill'; }
# changed_area <before.png> <after.png>: "x y width height" of what differs.
changed_area() {
  convert "$1" "$2" -compose difference -composite -colorspace gray -threshold 10% \
    -format '%@' info: | awk -F'[x+]' '{print $3, $4, $1, $2}'
}
# open_menu: a right click on the icon; sets menu_x menu_y menu_w menu_h to
# the place of what opened.
open_menu() {
  # The pointer is in the picture: it rests on the icon in both.
  swaycmd seat seat0 cursor set "$icon_x" "$icon_y"
  sleep 0.5
  picture "$work/before.png" || return 1
  click "$icon_x" "$icon_y" 3
  local area
  for _ in $(seq 50); do
    sleep 0.2
    picture "$work/after.png" || continue
    area=$(changed_area "$work/before.png" "$work/after.png")
    read -r menu_x menu_y menu_w menu_h <<<"$area"
    # A menu of two items is more than an icon's change of colour.
    ((${menu_h:-0} >= 40 && ${menu_w:-0} >= 50)) && return 0
  done
  return 1
}
# second_start: the program started again, given 20 seconds to end by
# itself (timeout's status 124 otherwise).
second_start() {
  as_user timeout 20 env QT_QPA_PLATFORM=wayland "$install/quillbeck" >"$work/second.log" 2>&1
  second_status=$?
}

check "no icon while no tray host runs" no_item

close_request
sleep 1
check "without a tray host a close request leaves the window shown (minimised)" window_shown
check "and the program runs on" alive "$program_pid"
second_start
check "a second start ends by itself (status $second_status)" test "$second_status" -eq 0
check "and brings no second window" window_shown

# --- The tray host starts: the icon appears ----------------------------------------
cat >"$work/waybar.json" <<'JSON'
{ "layer": "top", "position": "top", "height": 30, "modules-right": ["tray"],
  "tray": { "icon-size": 22, "spacing": 4 } }
JSON
as_user_exec waybar -c "$work/waybar.json" >"$work/waybar.log" 2>&1 &
waybar_pid=$!
end_on_exit "$waybar_pid"
check "the icon is registered with the tray host that started later" wait_for 20 item_registered
check "and the bar shows it" wait_for 10 icon_drawn

# The tray host restarts: the icon comes back.
end_processes "$waybar_pid"
as_user_exec waybar -c "$work/waybar.json" >"$work/waybar.log" 2>&1 &
waybar_pid=$!
end_on_exit "$waybar_pid"
check "the icon comes back when the tray host restarts" wait_for 20 item_registered
check "and the new bar shows it" wait_for 10 icon_drawn

close_request
check "with a tray host a close request hides the window" wait_for 10 window_hidden
check "and the program runs on" alive "$program_pid"

# --- A second start shows the hidden window --------------------------------------
second_start
check "a second start ends by itself (status $second_status)" test "$second_status" -eq 0
check "and shows the running copy's window" wait_for 10 window_shown
running=$(pgrep -c -x -U "$uid" quillbeck)
check "one program runs ($running)" test "$running" -eq 1
check "the second start changed no setting" cmp -s "$work/settings-before" "$install/Settings.ini"
check "and logged no error" test ! -e "$install/Logs/Error.log"
close_request
wait_for 10 window_hidden

# --- Clicks on the icon ---------------------------------------------------------
click "$icon_x" "$icon_y" 1
sleep 1
click "$icon_x" "$icon_y" 1
sleep 0.1
click "$icon_x" "$icon_y" 1
sleep 1
check "a left click and a double-click leave the window hidden" window_hidden

if open_menu; then
  ok "a right click on the icon opens a menu ($menu_w x $menu_h at $menu_x,$menu_y)"
  check "at the icon" test "$menu_y" -le 40 -a $((menu_x + menu_w)) -ge $((icon_x - 30))
  check "as a popup of the bar, not a window of its own" window_hidden
  if [ -n "$screenshot" ]; then
    x0=$((menu_x - 40 > 0 ? menu_x - 40 : 0))
    convert "$work/after.png" -crop "$((1024 - x0))x$((menu_y + menu_h + 20))+$x0+0" +repage \
      -strip "$screenshot" && ok "screenshot $screenshot" || not_ok "screenshot"
  fi
  # "Open" is the upper of the two items.
  click $((menu_x + menu_w / 3)) $((menu_y + menu_h * 3 / 10)) 1
  check "\"Open\" shows the hidden window" wait_for 10 window_shown
else
  not_ok "a right click on the icon opens a menu"
fi

if open_menu; then
  click $((menu_x + menu_w / 3)) $((menu_y + menu_h * 7 / 10)) 1
  check "\"Close\" ends the program" wait_for 10 ended "$program_pid"
  check "and its icon leaves the tray" wait_for 10 no_item
else
  not_ok "a second right click opens the menu again"
fi

finish "$work/quillbeck.log" "$work/waybar.log" "$work/sway.log"
