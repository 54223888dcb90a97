#!/usr/bin/env bash
# End to end on today's Linux desktop: the real program on Wayland under
# sway (its headless back end, software rendering) with waybar's tray as the
# StatusNotifierItem host, on a session bus of its own.
#
#   wayland_tray_e2e.sh <quillbeck> <wayland_pointer> [screenshot.png]
#
# The program starts before the bar, so at first there is no tray host: a
# close request must not hide the window then, and a second start ends at
# once. Then waybar starts: the icon must appear in it, and again after the
# bar restarts; a close request hides the window; a second start shows it
# again and ends at once; a left click on the icon does nothing; a right
# click opens the icon's menu at the icon, as a popup of the bar and not as
# a window of its own; "Open" shows the window; "Close" ends the program.
# The pointer is driven by sway's own commands (swaymsg seat ... cursor)
# over a virtual pointer that wayland_pointer holds, and the screen is read
# with grim.
#
# sway refuses to run as root: as root the script runs the whole desktop
# and the program as an unprivileged user of its own (created once, without
# a login), with a private runtime folder. Every wait is bounded and
# everything started here is ended on the way out. The optional third
# argument keeps a picture of the open menu.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 <quillbeck> <wayland_pointer> [screenshot.png]" >&2
  exit 2
fi
program=$(readlink -f "$1")
pointer_helper=$(readlink -f "$2")
screenshot=${3:-}

for tool in sway swaymsg waybar grim dbus-daemon dbus-send convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
test -x "$pointer_helper" || { echo "SKIP: $pointer_helper was not built"; exit 77; }

source "$(dirname "$0")/../support/checks.sh"

# --- Who runs the desktop ----------------------------------------------------
user=quillbeck-tray
if [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null || { echo "SKIP: setpriv is not installed"; exit 77; }
  if ! id "$user" >/dev/null 2>&1; then
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" ||
      { echo "Bail out! cannot create the user $user"; exit 1; }
  fi
  uid=$(id -u "$user")
  gid=$(id -g "$user")
else
  uid=$(id -u)
  gid=$(id -g)
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-wayland.XXXXXX")
chmod 755 "$work"
runtime="$work/runtime"
install="$work/install"
mkdir -m 700 "$runtime"
mkdir -p "$install" "$work/home" "$work/config"
cp "$program" "$install/quillbeck"
# The desktop's user may not be able to reach the build tree.
cp "$pointer_helper" "$work/wayland_pointer"
pointer_helper=$work/wayland_pointer
printf '[Quillbeck]\r\nDebug=1\r\n' >"$install/Settings.ini"
cp "$install/Settings.ini" "$work/settings-before"
cat >"$work/sway.conf" <<'EOF'
output HEADLESS-1 resolution 1024x768 position 0 0
xwayland disable
default_border normal
EOF
cat >"$work/waybar.json" <<'EOF'
{ "layer": "top", "position": "top", "height": 30, "modules-right": ["tray"],
  "tray": { "icon-size": 22, "spacing": 4 } }
EOF
[ "$(id -u)" -eq 0 ] && chown -R "$uid:$gid" "$runtime" "$install" "$work/home" "$work/config"

pids=()
cleanup() {
  end_processes "${pids[@]}"
  rm -rf "$work"
}
trap cleanup EXIT

# as_user <command...>: runs a command of the desktop session, as its user,
# in a clean environment. as_user_exec does the same in place of the shell
# that calls it, so "as_user_exec ... &" leaves $! the command's own id.
as_user_exec() {
  local session=(PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$runtime"
    XDG_CONFIG_HOME="$work/config" DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
    LANG=C.UTF-8 NO_AT_BRIDGE=1 GTK_A11Y=none ${WAYLAND_DISPLAY:+WAYLAND_DISPLAY=$WAYLAND_DISPLAY}
    ${SWAYSOCK:+SWAYSOCK=$SWAYSOCK})
  if [ "$(id -u)" -eq 0 ]; then
    exec setpriv --reuid="$uid" --regid="$gid" --clear-groups env -i "${session[@]}" "$@"
  fi
  exec env -i "${session[@]}" "$@"
}
as_user() { (as_user_exec "$@"); }

# --- The session bus, sway and a pointer ---------------------------------------
as_user_exec dbus-daemon --session --address="unix:path=$runtime/bus" --nofork --nopidfile \
  >"$work/dbus.log" 2>&1 &
pids+=($!)
wait_for 10 test -S "$runtime/bus" || { echo "Bail out! the session bus did not start"; exit 1; }

WAYLAND_DISPLAY='' SWAYSOCK='' as_user_exec env WLR_BACKENDS=headless WLR_RENDERER=pixman \
  WLR_HEADLESS_OUTPUTS=1 sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
sway_pid=$!
pids+=("$sway_pid")
sway_ready() {
  SWAYSOCK=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -n1)
  WAYLAND_DISPLAY=$(cd "$runtime" && ls wayland-* 2>/dev/null | grep -v '\.lock$' | head -n1)
  [ -n "$SWAYSOCK" ] && [ -n "$WAYLAND_DISPLAY" ]
}
if ! wait_for 20 sway_ready; then
  echo "Bail out! sway did not start"
  cat "$work/sway.log"
  exit 1
fi
export SWAYSOCK WAYLAND_DISPLAY
swaycmd() { as_user swaymsg "$@" >/dev/null; }
wait_for 10 swaycmd -t get_version || { echo "Bail out! sway does not answer"; exit 1; }

as_user_exec "$pointer_helper" >"$work/pointer.log" 2>&1 &
pids+=($!)
wait_for 10 grep -q ready "$work/pointer.log" || {
  echo "Bail out! no pointer for the seat"
  cat "$work/pointer.log"
  exit 1
}

# --- What the checks look at ------------------------------------------------------
# windows: how many windows of the program sway manages (a titled window of
# any kind, the main window or a menu shown as one).
windows() { as_user swaymsg -t get_tree | grep -c '"app_id": "quillbeck"'; }
window_shown() { [ "$(windows)" -eq 1 ]; }
window_hidden() { [ "$(windows)" -eq 0 ]; }
alive() { kill -0 "$program_pid" 2>/dev/null; }
ended() { ! alive; }
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

# --- The program starts before any tray host --------------------------------------
as_user_exec env QT_QPA_PLATFORM=wayland QT_LOGGING_RULES='qt.core.qobject.connect=false' \
  "$install/quillbeck" >"$work/quillbeck.log" 2>&1 &
program_pid=$!
pids+=("$program_pid")
check "the window \"Brindle\" is shown on Wayland" wait_for 20 window_shown
check "no icon while no tray host runs" no_item

close_request
sleep 1
check "without a tray host a close request leaves the window shown (minimised)" window_shown
check "and the program runs on" alive
second_start
check "a second start ends by itself (status $second_status)" test "$second_status" -eq 0
check "and brings no second window" window_shown

# --- The tray host starts: the icon appears ----------------------------------------
as_user_exec waybar -c "$work/waybar.json" >"$work/waybar.log" 2>&1 &
waybar_pid=$!
pids+=("$waybar_pid")
check "the icon is registered with the tray host that started later" wait_for 20 item_registered
check "and the bar shows it" wait_for 10 icon_drawn

# The tray host restarts: the icon comes back.
end_processes "$waybar_pid"
as_user_exec waybar -c "$work/waybar.json" >"$work/waybar.log" 2>&1 &
waybar_pid=$!
pids+=("$waybar_pid")
check "the icon comes back when the tray host restarts" wait_for 20 item_registered
check "and the new bar shows it" wait_for 10 icon_drawn

close_request
check "with a tray host a close request hides the window" wait_for 10 window_hidden
check "and the program runs on" alive

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
  check "\"Close\" ends the program" wait_for 10 ended
  check "and its icon leaves the tray" wait_for 10 no_item
else
  not_ok "a second right click opens the menu again"
fi

if ((failures > 0)); then
  for log in quillbeck waybar sway; do echo "--- $log"; tail -n 20 "$work/$log.log"; done
fi
checks_name=wayland_tray_e2e
finish
