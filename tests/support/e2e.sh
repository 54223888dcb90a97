# The set-up of the end-to-end, release and soak scripts, sourced by each
# (it brings checks.sh with it), so that a script begins at its first check.
# Each name has one meaning:
#
#   take_arguments USAGE NAME... -- "$@"   absolute paths of the arguments
#   make_work NAME                         $work, removed on exit
#   on_exit COMMAND... / end_on_exit PID...
#   bail, skip, need_tools
#   install_program, write_settings        the program in a folder, Settings.ini
#   start_program, alive, ended
#   start_xvfb, start_tray_host            a private X display and its tray
#   use_wine_prefix, add_network_drive,    Wine
#   windows_path, wp
#   mount_share                            a FUSE mount (bindfs)
#   lines_of, has_lines, count_of, count_is, has_line, wait_for_line, file_is
#
# Every wait is bounded. Whatever a script starts or mounts through these
# is ended or undone on the way out, whatever happened.

e2e_support=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=checks.sh
source "$e2e_support/checks.sh"
wine_run=$(cd "$e2e_support/../../scripts" && pwd)/wine-run
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

# --- The script's own affairs --------------------------------------------------

# take_arguments USAGE NAME... -- ARGUMENT...: each NAME is set to the
# absolute path of its argument; with too few arguments the script ends
# (status 2) with "usage: <script> USAGE".
take_arguments() {
  local usage=$1 names=() name
  shift
  while [ "$1" != -- ]; do names+=("$1"); shift; done
  shift
  if [ $# -lt ${#names[@]} ]; then
    echo "usage: $0 $usage" >&2
    exit 2
  fi
  for name in "${names[@]}"; do
    printf -v "$name" '%s' "$(readlink -f "$1")"
    shift
  done
}

bail() { echo "Bail out! $*"; exit 1; }  # the run cannot go on: it fails
skip() { echo "SKIP: $*"; exit 77; }     # the run cannot happen here
# need_tools TOOL...: skips the run unless every tool is installed.
need_tools() {
  local tool
  for tool in "$@"; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
}

exit_steps=()
pids=()
# on_exit COMMAND...: a step of the clean-up; the last registered runs first.
on_exit() { exit_steps+=("$(printf '%q ' "$@")"); }
# end_on_exit PID...: processes ended on the way out.
end_on_exit() { pids+=("$@"); }

# make_work NAME: $work, a new scratch folder ("quillbeck-NAME.*"), and
# XDG_RUNTIME_DIR, a private runtime folder in it. On exit, in this order:
# the Wine prefix's server ends (use_wine_prefix), the processes of
# end_on_exit end, the steps of on_exit run, and $work goes, unless
# keep_work is true (what is mounted below it is never entered); also when
# the script is interrupted or terminated.
make_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-$1.XXXXXX")
  trap clean_up EXIT
  trap 'exit 1' INT TERM  # so that being stopped cleans up too
  export XDG_RUNTIME_DIR=$work/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
}
clean_up() {
  local i
  if [ -n "${wine_prefix_used:-}" ]; then "$wineserver" -k >/dev/null 2>&1; fi
  if ((${#pids[@]} > 0)); then
    end_processes "${pids[@]}"
    wait "${pids[@]}" 2>/dev/null
  fi
  for ((i = ${#exit_steps[@]} - 1; i >= 0; i--)); do eval "${exit_steps[i]}" >/dev/null 2>&1; done
  if [ "${keep_work:-false}" = true ]; then
    echo "kept $work"
  else
    rm -rf --one-file-system "$work"
  fi
}

# end_processes PID...: asks each to end, gives it two seconds, then kills it.
end_processes() {
  local pid
  for pid in "$@"; do kill "$pid" 2>/dev/null; done
  for pid in "$@"; do
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  return 0
}

# --- The program -------------------------------------------------------------

# install_program PROGRAM FOLDER [NAME]: PROGRAM copied into FOLDER (made
# when missing) under NAME, by default its own name.
install_program() { mkdir -p "$2" && cp "$1" "$2/${3:-$(basename "$1")}"; }

# write_settings FILE LINE...: a Settings.ini as the program reads it, the
# section [Quillbeck] and then the lines given, every line ended by CR LF.
write_settings() {
  local file=$1
  shift
  {
    printf '[Quillbeck]\r\n'
    [ $# -eq 0 ] || printf '%s\r\n' "$@"
  } >"$file"
}

# start_program PROGRAM [ARGUMENT...]: PROGRAM started in the background
# from the root folder (it finds its files beside itself), its output added
# to $work/program.log; a Windows program (.exe) runs under Wine, for 900 s
# at most. program_pid is its process (for a Windows program, the launcher
# that ends with it).
start_program() {
  if [[ $1 == *.exe ]]; then
    (cd / && exec "$wine_run" --timeout 900 "$@") </dev/null >>"$work/program.log" 2>&1 &
  else
    (cd / && exec "$@") </dev/null >>"$work/program.log" 2>&1 &
  fi
  program_pid=$!
  end_on_exit "$program_pid"
}

# alive PID: the process runs (one that has ended but is not yet reaped
# counts as ended). ended PID: it does not.
alive() {
  local stat
  stat=$(ps -o stat= -p "$1" 2>/dev/null)
  [ -n "$stat" ] && [[ $stat != Z* ]]
}
ended() { ! alive "$1"; }

# --- A display ---------------------------------------------------------------

# start_xvfb SCREEN [ARGUMENT...]: a private X server with one screen of
# SCREEN (WxHxD) and Xvfb's further arguments, as DISPLAY; false when it
# does not come up.
start_xvfb() {
  local screen=$1
  shift
  Xvfb -displayfd 9 -screen 0 "$screen" -nolisten tcp "$@" 9>"$work/display" \
    >>"$work/xvfb.log" 2>&1 &
  end_on_exit $!
  wait_for 15 test -s "$work/display" || return 1
  export DISPLAY=":$(head -n1 "$work/display")"
}

# start_tray_host: trayer on DISPLAY, a panel at the top right, once it owns
# the tray selection (its manager window, unnamed and off the screen, is the
# owner): Wine docks an icon only into a host that owns the selection when
# the icon is added. Tried three times; false when every try failed. What
# trayer said is in $work/trayer.log.
tray_manager_up() { xwininfo -root -tree 2>/dev/null | grep -q '"trayer": ()'; }
start_tray_host() {
  local attempt pid
  for attempt in 1 2 3; do
    trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel \
      --height 24 >>"$work/trayer.log" 2>&1 &
    pid=$!
    end_on_exit "$pid"
    wait_for 30 eval "tray_manager_up || ! kill -0 $pid 2>/dev/null"
    tray_manager_up && return 0
    kill "$pid" 2>/dev/null
    echo "trayer took no tray selection (attempt $attempt)" >>"$work/trayer.log"
  done
  return 1
}

# --- Wine ----------------------------------------------------------------------

# use_wine_prefix [PREFIX]: Wine runs in PREFIX, by default the prefix kept
# for display runs ($QUILLBECK_DISPLAY_WINEPREFIX), with its messages off;
# the prefix's server ends on exit.
use_wine_prefix() {
  export WINEPREFIX=${1:-${QUILLBECK_DISPLAY_WINEPREFIX:-${TMPDIR:-/tmp}/quillbeck-wine-display-$(id -u)}}
  export WINEDEBUG=-all
  wine_prefix_used=true
}

# add_network_drive LETTER TARGET: the prefix's drive LETTER: leads to
# TARGET, and Wine's registry calls it a network drive; the link goes on
# exit. The drive manager reads that when the prefix starts, so no Wine
# process of the prefix may run meanwhile (its server is ended first).
add_network_drive() {
  local link="$WINEPREFIX/dosdevices/$1:"
  on_exit rm -f "$link"
  "$wineserver" -k >/dev/null 2>&1
  "$wine_run" --timeout 120 reg add 'HKLM\Software\Wine\Drives' /v "$1:" /d network /f \
    >/dev/null 2>&1 || return 1
  "$wineserver" -k >/dev/null 2>&1
  ln -sfn "$2" "$link"
}

# windows_path PATH: the Windows path of a Linux one (Wine's drive Z:).
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# wp ARGUMENT...: what the win_post helper ($win_post) answers, without CRs.
wp() { "$wine_run" --timeout 30 "$win_post" "$@" 2>/dev/null | tr -d '\r'; }

# --- A share -----------------------------------------------------------------

# mount_share FOLDER MOUNT [BINDFS OPTION...]: FOLDER mounted at MOUNT by
# bindfs, a FUSE file system whose daemon is $share_daemon; false when no
# FUSE mount comes up (no bindfs, or no usable /dev/fuse). On exit the
# daemon goes on (it may have been stopped), the mount is undone and the
# daemon ended.
mount_share() {
  local folder=$1 mount=$2
  shift 2
  command -v bindfs >/dev/null && [ -w /dev/fuse ] || return 1
  bindfs -f "$@" "$folder" "$mount" >>"$work/bindfs.log" 2>&1 &
  share_daemon=$!
  on_exit unmount_share "$share_daemon" "$mount"
  wait_for 10 fuse_mount "$mount"
}
fuse_mount() { mountpoint -q "$1" && [ "$(stat -f -c %t "$1")" = 65735546 ]; }
unmount_share() {
  kill -CONT "$1"
  if mountpoint -q "$2"; then fusermount3 -u "$2" || umount -l "$2"; fi
  kill "$1"
}

# --- Files and logs --------------------------------------------------------------

# lines_of FILE: how many lines FILE holds (0 when it is missing).
lines_of() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }
# has_lines FILE N: FILE holds N lines or more.
has_lines() { [ "$(lines_of "$1")" -ge "$2" ]; }
# count_of FILE PATTERN: how many lines of FILE match PATTERN (0 when it is
# missing). count_is FILE PATTERN N: exactly N do.
count_of() {
  local n
  n=$(grep -c -- "$2" "$1" 2>/dev/null)
  echo "${n:-0}"
}
count_is() { [ "$(count_of "$1" "$2")" = "$3" ]; }
# has_line FILE PATTERN: a line of FILE (a log, say) matches PATTERN.
has_line() { grep -q -- "$2" "$1" 2>/dev/null; }
# wait_for_line SECONDS FILE PATTERN: true once a line of FILE matches.
wait_for_line() { wait_for "$1" has_line "$2" "$3"; }
# file_is FILE TEXT: FILE holds exactly TEXT (a final newline aside).
file_is() { [ "$(cat "$1" 2>/dev/null)" = "$2" ]; }

# --- A Wayland desktop -------------------------------------------------------

# start_sway_desktop POINTER_HELPER: today's Linux desktop: a session bus of
# its own, sway on its headless back end (software rendering, no Xwayland,
# one 1024 x 768 output) and a virtual pointer for its seat, held by the
# wayland_pointer helper; SWAYSOCK and WAYLAND_DISPLAY lead to it. sway
# refuses to run as root: as root the desktop, and all that as_user runs,
# runs as an unprivileged user of its own (quillbeck-tray, created once,
# without a login), whose $uid and $gid own the runtime folder,
# $work/home and $work/config. Skips without setpriv as root; bails out
# when a part does not come up.
start_sway_desktop() {
  desktop_user=quillbeck-tray
  if [ "$(id -u)" -eq 0 ]; then
    command -v setpriv >/dev/null || skip "setpriv is not installed"
    if ! id "$desktop_user" >/dev/null 2>&1; then
      useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
        "$desktop_user" || bail "cannot create the user $desktop_user"
    fi
    uid=$(id -u "$desktop_user") gid=$(id -g "$desktop_user")
  else
    uid=$(id -u) gid=$(id -g)
  fi
  chmod 755 "$work"
  mkdir -p "$work/home" "$work/config"
  desktop_owns "$XDG_RUNTIME_DIR" "$work/home" "$work/config"
  # The desktop's user may not be able to reach the build tree.
  cp "$1" "$work/wayland_pointer"
  printf '%s\n' 'output HEADLESS-1 resolution 1024x768 position 0 0' 'xwayland disable' \
    'default_border normal' >"$work/sway.conf"

  as_user_exec dbus-daemon --session --address="unix:path=$XDG_RUNTIME_DIR/bus" --nofork \
    --nopidfile >"$work/dbus.log" 2>&1 &
  end_on_exit $!
  wait_for 10 test -S "$XDG_RUNTIME_DIR/bus" || bail "the session bus did not start"
  WAYLAND_DISPLAY='' SWAYSOCK='' as_user_exec env WLR_BACKENDS=headless WLR_RENDERER=pixman \
    WLR_HEADLESS_OUTPUTS=1 sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
  end_on_exit $!
  if ! wait_for 20 sway_ready; then
    cat "$work/sway.log"
    bail "sway did not start"
  fi
  export SWAYSOCK WAYLAND_DISPLAY
  wait_for 10 swaycmd -t get_version || bail "sway does not answer"
  as_user_exec "$work/wayland_pointer" >"$work/pointer.log" 2>&1 &
  end_on_exit $!
  if ! wait_for 10 grep -q ready "$work/pointer.log"; then
    cat "$work/pointer.log"
    bail "no pointer for the seat"
  fi
}
sway_ready() {
  SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock 2>/dev/null | head -n1)
  WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls wayland-* 2>/dev/null | grep -v '\.lock$' | head -n1)
  [ -n "$SWAYSOCK" ] && [ -n "$WAYLAND_DISPLAY" ]
}
# desktop_owns PATH...: the desktop's user owns what is below PATH (as root).
desktop_owns() { [ "$(id -u)" -ne 0 ] || chown -R "$uid:$gid" "$@"; }
# as_user COMMAND...: a command of the desktop session, as its user, in a
# clean environment. as_user_exec does the same in place of the shell that
# calls it, so "as_user_exec ... &" leaves $! the command's own id.
as_user_exec() {
  local session=(PATH=/usr/local/bin:/usr/bin:/bin HOME="$work/home"
    XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" XDG_CONFIG_HOME="$work/config"
    DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus" LANG=C.UTF-8 NO_AT_BRIDGE=1
    GTK_A11Y=none ${WAYLAND_DISPLAY:+WAYLAND_DISPLAY=$WAYLAND_DISPLAY}
    ${SWAYSOCK:+SWAYSOCK=$SWAYSOCK})
  if [ "$(id -u)" -eq 0 ]; then
    exec setpriv --reuid="$uid" --regid="$gid" --clear-groups env -i "${session[@]}" "$@"
  fi
  exec env -i "${session[@]}" "$@"
}
as_user() { (as_user_exec "$@"); }
swaycmd() { as_user swaymsg "$@" >/dev/null; }
