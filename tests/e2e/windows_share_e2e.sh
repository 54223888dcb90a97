#!/usr/bin/env bash
# End to end: a watched folder on a network drive whose server writes files
# itself, and then stops answering. Quillbeck.exe under Wine on a private X
# display (Xvfb) watches two folders: one on a FUSE mount (bindfs of a
# temporary folder) reached as drive N:, which Wine's registry marks as a
# network drive, and one on the local disk. Files written into the backing
# folder are what a share shows of files its server writes, out of reach
# of any sharing mode. Checks:
#   - a file the server writes slowly is taken only once it is whole;
#   - with the mount's daemon stopped (SIGSTOP) in the middle of a large
#     copy, as a server gone, the local slot still gets its files picked up,
#     tick after tick, and the window answers messages;
#   - a file dropped meanwhile into the share's folder waits there;
#   - once the daemon goes on (SIGCONT) the large file arrives whole and the
#     share's slot picks up the waiting one, in the same process, with
#     nothing in Error.log but what Wine made of the frozen read.
# A link named like a pickup cannot be shown here: Wine follows a host's
# link everywhere and shows it as the file it leads to.
#
#   windows_share_e2e.sh <Quillbeck.exe> <record_start.exe> <win_post.exe>
#
# Needs bindfs and a usable /dev/fuse: without them it is skipped (status
# 77). Every wait is bounded; the daemon is resumed and ended, the mount
# taken down, the display and the prefix's wineserver ended on exit,
# whatever happened.
set -uo pipefail

[ $# -eq 3 ] || { echo "usage: $0 Quillbeck.exe record_start.exe win_post.exe" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run"
program=$(realpath "$1") record_start=$(realpath "$2") win_post=$(realpath "$3")

export WINEPREFIX=${QUILLBECK_DISPLAY_WINEPREFIX:-${TMPDIR:-/tmp}/quillbeck-wine-display-$(id -u)}
export WINEDEBUG=-all
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-share-e2e.XXXXXX")
served="$work/served" mount="$work/mount" local="$work/local"
mkdir -p "$served/Temp" "$mount" "$local/Temp"
pids=()
daemon=

network_drive="$WINEPREFIX/dosdevices/n:"
cleanup() {
  rm -f "$network_drive"
  if [ -n "$daemon" ]; then
    kill -CONT "$daemon" 2>/dev/null
    fusermount3 -u "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null
    kill "$daemon" 2>/dev/null
  fi
  "$wineserver" -k >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  mountpoint -q "$mount" || rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/../support/checks.sh"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
wp() { "$wine_run" --timeout 30 "$win_post" "$@" 2>/dev/null | tr -d '\r'; }
count() { grep -c -- "$2" "$1" 2>/dev/null; }
has_lines() { [ "$(count "$1" "$2")" = "$3" ]; }
alive() { kill -0 "$1" 2>/dev/null; }

# --- the share: a FUSE mount without kernel caching, so that stopping its
# daemon blocks the very next call into it ----------------------------------
command -v bindfs >/dev/null && command -v fusermount3 >/dev/null || {
  echo "bindfs or fusermount3 is not installed: skipped"
  exit 77
}
bindfs -f -o entry_timeout=0,attr_timeout=0,negative_timeout=0 "$served" "$mount" \
  >"$work/bindfs.log" 2>&1 &
daemon=$!
if ! wait_for 10 mountpoint -q "$mount"; then
  echo "bindfs could not mount (is /dev/fuse usable here?): skipped"
  cat "$work/bindfs.log"
  exit 77
fi

# --- display ----------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")"
export DISPLAY

# --- the network drive: N: leads to the mount, and the registry calls it a
# network drive. The drive manager reads that when the prefix starts, so no
# Wine process of the prefix may run yet (the e2e cases take turns). ----------
"$wineserver" -k >/dev/null 2>&1 || true
"$wine_run" --timeout 120 reg add 'HKLM\Software\Wine\Drives' /v 'n:' /d network /f \
  >/dev/null 2>&1 || { echo "Bail out! the drive could not be marked as a network drive"; exit 1; }
"$wineserver" -k >/dev/null 2>&1 || true
ln -sfn "$mount" "$network_drive"

# --- installation -------------------------------------------------------------
app="$work/app"
mkdir -p "$app"
cp "$program" "$app/Quillbeck.exe"
record="$work/record.txt"
recorder="$(windows_path "$record_start") $(windows_path "$record")"
printf '[Quillbeck]\r\nDebug=1\r\nFolder 1=N:\\\r\nShell 1=%s share\r\nFolder 2=%s\r\nShell 2=%s local\r\n' \
  "$recorder" "$(windows_path "$local")" "$recorder" >"$app/Settings.ini"

"$wine_run" --timeout 600 "$app/Quillbeck.exe" >/dev/null 2>&1 &
main=$!
pids+=($main)
check "the program starts and ticks" wait_for 120 grep -q 'Timer started' "$app/Logs/Debug.log"
printf 'one' >"$mount/a.GDT"
check "the share's slot picks up a file" wait_for 20 has_lines "$record" share 1

# Twenty lines, one every 0.3 s, written by the server itself.
for i in $(seq 20); do echo "line $i" >>"$served/slow.GDT"; sleep 0.3; done
check "the server's slowly written file is taken once it is whole" wait_for 20 eval \
  '[ ! -e "$served/slow.GDT" ] && [ "$(wc -l <"$served/Temp/slow.GDT")" = 20 ]'
check "and its command started once" wait_for 5 has_lines "$record" share 2

# --- the share freezes in the middle of a large copy ------------------------------
truncate -s 1G "$served/big.GDT"  # sparse: no disk until it is copied
check "a large copy from the share begins" \
  wait_for 30 eval 'ls "$served/Temp" | grep -q "^~quillbeck-.*\.tmp\$"'
# A Wine process that starts looks at every drive letter, and would wait
# for the frozen one: the letter goes while the server is stopped, so the
# commands the local slot starts (and this script's messages) can run. The
# copy in flight holds the share's files open and keeps waiting.
rm -f "$network_drive"
kill -STOP "$daemon"
printf 'two' >"$served/b.GDT"  # written on the server's side, seen once it answers
printf 'three' >"$local/c.GDT"
check "while it is frozen the local slot picks up a file" wait_for 10 has_lines "$record" local 1
check "the window answers a message" grep -q 'answered=1' <<<"$(wp ping)"
printf 'four' >"$local/d.GDT"
check "and a next one, ticks later" wait_for 10 has_lines "$record" local 2
check "the local files were moved into Temp" eval \
  '[ "$(cat "$local/Temp/c.GDT" "$local/Temp/d.GDT")" = threefour ] && [ ! -e "$local/c.GDT" ]'
check "the share's file waits" eval 'has_lines "$record" share 2 && [ -e "$served/b.GDT" ]'

# --- the share answers again ------------------------------------------------------
kill -CONT "$daemon"
ln -sfn "$mount" "$network_drive"
check "the large file arrives whole" wait_for 120 eval \
  '[ "$(stat -c %s "$served/Temp/big.GDT" 2>/dev/null)" = 1073741824 ] && [ ! -e "$served/big.GDT" ]'
check "the share's slot works again" wait_for 20 has_lines "$record" share 4
check "the file arrived in the share's Temp" eval \
  '[ "$(cat "$served/Temp/b.GDT" 2>/dev/null)" = two ] && [ ! -e "$served/b.GDT" ]'
check "in the same process, never restarted" alive "$main"
# Wine ends a read that the stopped daemon holds with "General failure"
# once it signals the reading thread; that copy is then made again at a
# later tick, as the checks above show. Nothing else may be logged.
check "no error was logged but the frozen read's" \
  eval '! grep -v -F "big.GDT" "$app/Logs/Error.log" 2>/dev/null | grep -q .'

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  echo "--- record"; cat "$record" 2>/dev/null
  echo "--- Debug.log"; tail -n 30 "$app/Logs/Debug.log" 2>/dev/null
  echo "--- Error.log"; cat "$app/Logs/Error.log" 2>/dev/null
  exit 1
fi
echo "all checks passed"
