#!/usr/bin/env bash
# Runs a Windows program under Wine on an X display (Xvfb), in the Wine
# prefix kept for display runs at the density asked for. Bounded: a program
# that hangs is killed after QUILLBECK_TEST_TIMEOUT seconds (default 300).
# QUILLBECK_TEST_DPI runs it at another display density: Wine's system DPI
# is set in a prefix of its own.
#   with_display.sh <program.exe> [args...]
#   with_display.sh --start | --stop
#
# The shared display. `--start` (the setup of a ctest fixture) starts one
# Xvfb at the density and one Wine server for its prefix, boots the prefix's
# services on that display, and notes the display beside the prefix; every
# run after it draws on that display and leaves the server up for the next,
# so a suite of window cases starts Xvfb and boots Wine once instead of once
# a case. `--stop` (the fixture's cleanup) ends both. Without a shared
# display, a run brings a display of its own and ends its prefix's server
# afterwards, as before: a case run by hand needs no fixture.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
wine_run=$root/scripts/wine-run
dpi=${QUILLBECK_TEST_DPI:-96}
export QUILLBECK_TEST_DPI=$dpi
prefix=${QUILLBECK_DISPLAY_WINEPREFIX:-${TMPDIR:-/tmp}/quillbeck-wine-display-$(id -u)}
[ "$dpi" = 96 ] || prefix="$prefix-dpi$dpi"
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
shared=$WINEPREFIX.display  # "<display number> <Xvfb's process id>"

# set_dpi: Wine's system DPI of the prefix, once per prefix (run on a display).
set_dpi() {
  [ "$dpi" != 96 ] || return 0
  [ "$(cat "$WINEPREFIX/.quillbeck-dpi" 2>/dev/null)" != "$dpi" ] || return 0
  "$wine_run" reg add "HKCU\Control Panel\Desktop" /v LogPixels /t REG_DWORD \
    /d "$dpi" /f >/dev/null 2>&1 && echo "$dpi" >"$WINEPREFIX/.quillbeck-dpi"
  # The server writes the registry when it ends; the services boot again
  # with the new density.
  "$wine_run" --stop
}

# shared_display: the number of the shared display when it is up.
shared_display() {
  local number pid
  read -r number pid 2>/dev/null <"$shared" || return 1
  kill -0 "$pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$number" ] || return 1
  echo "$number"
}

stop_shared() {
  local number pid
  "$wine_run" --stop
  if read -r number pid 2>/dev/null <"$shared"; then
    kill "$pid" 2>/dev/null || true
  fi
  rm -f "$shared"
}

case ${1:-} in
  --stop)
    stop_shared
    exit 0
    ;;
  --start)
    mkdir -p "$(dirname "$WINEPREFIX")"
    stop_shared
    number_file=$(mktemp)
    trap 'rm -f "$number_file"' EXIT
    # Its own session and no output of ours: ctest does not wait for it.
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi "$dpi" -nolisten tcp \
      3>"$number_file" </dev/null >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$number_file" ] && break; sleep 0.1; done
    [ -s "$number_file" ] || { echo "with_display: Xvfb did not start" >&2; exit 1; }
    number=$(tr -d '[:space:]' <"$number_file")
    export DISPLAY=:$number
    set_dpi
    # The server stays until --stop; should that never come, it ends after
    # an hour without programs, and the display with it.
    QUILLBECK_WINE_LINGER=3600 "$wine_run" rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1
    echo "$number $xvfb" >"$shared"
    setsid bash -c '"$1" -w; kill "$2"' _ "$wineserver" "$xvfb" </dev/null >/dev/null 2>&1 &
    echo "with_display: display :$number at $dpi dpi, prefix $WINEPREFIX"
    exit 0
    ;;
esac

out=$(mktemp)
status=0
if number=$(shared_display); then
  trap 'rm -f "$out"' EXIT
  export DISPLAY=:$number
  set +e
  QUILLBECK_WINE_LINGER=3600 "$wine_run" --timeout "${QUILLBECK_TEST_TIMEOUT:-300}" "$@" 2>&1 |
    tee "$out"
  status=${PIPESTATUS[0]}
  set -e
else
  cleanup() { "$wineserver" -k >/dev/null 2>&1 || true; }
  trap 'cleanup; rm -f "$out"' EXIT
  set_dpi_now=
  if [ "$dpi" != 96 ] && [ "$(cat "$WINEPREFIX/.quillbeck-dpi" 2>/dev/null)" != "$dpi" ]; then
    set_dpi_now=$dpi
  fi
  # shellcheck disable=SC2016
  set +e
  timeout -k 10 "${QUILLBECK_TEST_TIMEOUT:-300}" \
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi $dpi" bash -c '
      wine_run=$1 set_dpi=$2
      shift 2
      if [ -n "$set_dpi" ]; then
        "$wine_run" reg add "HKCU\Control Panel\Desktop" /v LogPixels /t REG_DWORD \
          /d "$set_dpi" /f >/dev/null 2>&1 && echo "$set_dpi" >"$WINEPREFIX/.quillbeck-dpi"
      fi
      exec "$wine_run" "$@"' _ "$wine_run" "$set_dpi_now" "$@" 2>&1 | tee "$out"
  status=${PIPESTATUS[0]}
  set -e
fi
# A suite must run to its end: a program that ends early, even with status
# 0 (the end of a Wine session ends it quietly), has not passed.
if ! grep -q '^\[==========\] Running' "$out"; then
  # Wine's own messages are off: say at least how the program ended.
  [ "$status" -eq 0 ] || echo "with_display: $1 ended with status $status before its suite began" >&2
elif ! grep -q '^\[  PASSED  \]' "$out"; then
  echo "with_display: the suite ended before its summary (status $status)" >&2
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
