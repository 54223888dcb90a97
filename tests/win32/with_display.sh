#!/usr/bin/env bash
# Runs a Windows program under Wine on a private X display (Xvfb), in the
# Wine prefix kept for display runs, so no process of another display shares
# its wineserver; ends that wineserver afterwards. Bounded: a program that
# hangs is killed after QUILLBECK_TEST_TIMEOUT seconds (default 300).
#   with_display.sh <program.exe> [args...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
export WINEPREFIX=${QUILLBECK_DISPLAY_WINEPREFIX:-${TMPDIR:-/tmp}/quillbeck-wine-display-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
cleanup() { WINEPREFIX=$WINEPREFIX "$wineserver" -k >/dev/null 2>&1 || true; }
trap cleanup EXIT
timeout -k 10 "${QUILLBECK_TEST_TIMEOUT:-300}" \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$root/scripts/wine-run" "$@"
