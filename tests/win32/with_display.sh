#!/usr/bin/env bash
# Runs a Windows program under Wine on a private X display (Xvfb), in the
# Wine prefix kept for display runs, so no process of another display shares
# its wineserver; ends that wineserver afterwards. Bounded: a program that
# hangs is killed after QUILLBECK_TEST_TIMEOUT seconds (default 300).
# QUILLBECK_TEST_DPI runs it at another display density: Wine's system DPI
# is set in a prefix of its own.
#   with_display.sh <program.exe> [args...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
dpi=${QUILLBECK_TEST_DPI:-96}
prefix=${QUILLBECK_DISPLAY_WINEPREFIX:-${TMPDIR:-/tmp}/quillbeck-wine-display-$(id -u)}
[ "$dpi" = 96 ] || prefix="$prefix-dpi$dpi"
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
cleanup() { "$wineserver" -k >/dev/null 2>&1 || true; }
trap cleanup EXIT
set_dpi=
if [ "$dpi" != 96 ] && [ "$(cat "$WINEPREFIX/.quillbeck-dpi" 2>/dev/null)" != "$dpi" ]; then
  set_dpi=$dpi
fi
out=$(mktemp)
trap 'cleanup; rm -f "$out"' EXIT
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
    exec "$wine_run" "$@"' _ "$root/scripts/wine-run" "$set_dpi" "$@" 2>&1 | tee "$out"
status=${PIPESTATUS[0]}
set -e
# A suite must run to its end: a program that ends early, even with status
# 0 (the end of a Wine session ends it quietly), has not passed.
if grep -q '^\[==========\] Running' "$out" && ! grep -q '^\[  PASSED  \]' "$out"; then
  echo "with_display: the suite ended before its summary (status $status)" >&2
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
