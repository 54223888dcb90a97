#!/usr/bin/env bash
# End to end: Quillbeck.exe killed in the middle of a large copy, then started
# again. Under Wine on a private X display (Xvfb). Installs the program with a
# Settings.ini into a temporary folder, drops a 1 GiB ".GDT" file, waits until
# the copy's temporary file shows in Temp and kills the program outright
# (SIGKILL to its process: no handler, no clean-up of its own). Then:
#   - the source is still in the watched folder, whole, and nothing lies in
#     Temp under its name, and its command was not started;
#   - started again, the program moves the file whole (same checksum), starts
#     its command exactly once, and leaves nothing else of its own in Temp:
#     the killed copy's temporary file is gone, and so is an abandoned one in
#     another slot's Temp, where no file arrives (start-up clears those);
#   - files of other names in Temp, ours-looking or not, are left alone.
#
#   windows_crash_e2e.sh <Quillbeck.exe> <record_start.exe>
#
# Needs about 3 GiB free under $TMPDIR. Every wait is bounded; the display
# and the prefix's wineserver are ended on exit, whatever happened.
set -uo pipefail

[ $# -eq 2 ] || { echo "usage: $0 Quillbeck.exe record_start.exe" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run"
program=$(realpath "$1") record_start=$(realpath "$2")
size_mib=1024

export WINEPREFIX=${QUILLBECK_DISPLAY_WINEPREFIX:-${TMPDIR:-/tmp}/quillbeck-wine-display-$(id -u)}
export WINEDEBUG=-all
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-crash-e2e.XXXXXX")
pids=()

cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/../support/checks.sh"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
lines_in() {
  local n
  n=$(grep -c . "$1" 2>/dev/null)
  echo "${n:-0}"
}
checksum() { sha256sum <"$1" | cut -d' ' -f1; }
temporary_copies() { compgen -G "$1/~quillbeck-*.tmp"; }
listing() { find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | tr '\n' ' '; }

free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt $(((size_mib * 3 + 256) * 1024)) ]; then
  echo "$work has $((free_kib / 1024)) MiB free; the crash test needs $((size_mib * 3 + 256))" >&2
  exit 1
fi

# --- display --------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")"
export DISPLAY

# --- installation ---------------------------------------------------------
app="$work/app" watch="$work/watch1" other="$work/watch2"
mkdir -p "$app" "$watch" "$other/Temp"
cp "$program" "$app/Quillbeck.exe"
record="$work/record.txt"
printf '[Quillbeck]\r\nDebug=1\r\nFolder 1=%s\r\nShell 1=%s %s slot1\r\nFolder 2=%s\r\nShell 2=%s %s slot2\r\n' \
  "$(windows_path "$watch")" "$(windows_path "$record_start")" "$(windows_path "$record")" \
  "$(windows_path "$other")" "$(windows_path "$record_start")" "$(windows_path "$record")" \
  >"$app/Settings.ini"
debug_log="$app/Logs/Debug.log"

# The large file is written beside the watched folder and renamed into it, so
# the program only ever sees it whole.
head -c $((size_mib << 20)) /dev/urandom >"$work/big.bin"
sum=$(checksum "$work/big.bin")

launcher=
start_program() {
  "$wine_run" --timeout 900 "$app/Quillbeck.exe" >/dev/null 2>&1 &
  launcher=$!
  pids+=("$launcher")
}
# program_pid: the process of Quillbeck.exe itself, the one child of the
# launcher (wine-run ends in timeout, which starts Wine, which becomes it).
program_pid() {
  local pid
  for pid in $(pgrep -P "$launcher"); do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'Quillbeck\.exe' && echo "$pid"
  done
}
ticking() { grep -q 'Timer started' "$debug_log" 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null; }

# --- the crash ------------------------------------------------------------
start_program
check "the program starts and ticks" wait_for 120 ticking
pid=$(program_pid)
[ -n "$pid" ] || { echo "no process of Quillbeck.exe found" >&2; exit 1; }

# Killed once the copy is well under way: an eighth of the file written.
mv "$work/big.bin" "$watch/big.GDT"
caught=
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do
  partial=$(temporary_copies "$watch/Temp" | head -1)
  if [ -n "$partial" ] && [ "$(stat -c %s "$partial" 2>/dev/null || echo 0)" -ge $((size_mib << 17)) ]; then
    caught=yes
    break
  fi
  [ -e "$watch/Temp/big.GDT" ] && break
  sleep 0.01
done
kill -9 "$pid"
wait "$launcher" 2>/dev/null
if [ -z "$caught" ]; then
  not_ok "the copy was caught in the middle (it was over, or never began)"
  exit 1
fi
check "the program is killed" wait_for 20 gone "$pid"
leftover=$(temporary_copies "$watch/Temp" | head -1)
if [ -n "$leftover" ]; then
  ok "the killed copy left its temporary file ($(stat -c %s "$leftover") of $((size_mib << 20)) bytes)"
else
  not_ok "the killed copy left its temporary file"
fi
check "nothing lies in Temp under the file's own name" test ! -e "$watch/Temp/big.GDT"
check "the source is still in the watched folder, whole" \
  test "$(checksum "$watch/big.GDT" 2>/dev/null)" = "$sum"
check "the command was not started" test "$(lines_in "$record")" = 0

# An abandoned copy in a slot where nothing arrives, and files in Temp that
# only look like ours, or are nothing of ours.
printf 'half' >"$other/Temp/~quillbeck-00000abc-12345678.tmp"
printf 'keep' >"$watch/Temp/other.tmp"
printf 'keep' >"$watch/Temp/~quillbeck-x.tmp.GDT"
printf 'keep' >"$other/Temp/~quillbeck-00000abc-1234567.tmp"

# --- the start after it ---------------------------------------------------
: >"$debug_log"
start_program
check "started again, the program starts the command" wait_for 180 test -s "$record"
check "the file arrived in Temp whole" test "$(checksum "$watch/Temp/big.GDT" 2>/dev/null)" = "$sum"
check "and left the watched folder" test ! -e "$watch/big.GDT"
sleep 6  # three more ticks: nothing may start again
check "the command started exactly once" test "$(lines_in "$record")" = 1
check "it was slot 1's command" grep -qx slot1 "$record"
check "nothing else of ours remains in Temp" \
  test "$(listing "$watch/Temp")" = "big.GDT other.tmp ~quillbeck-x.tmp.GDT "
check "start-up cleared the abandoned copy of a slot where nothing arrived" \
  test "$(listing "$other/Temp")" = "~quillbeck-00000abc-1234567.tmp "
check "no error was logged" test ! -s "$app/Logs/Error.log"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  echo "--- Temp: $(listing "$watch/Temp")"
  echo "--- Debug.log"; tail -n 20 "$debug_log" 2>/dev/null
  echo "--- Error.log"; cat "$app/Logs/Error.log" 2>/dev/null
  exit 1
fi
echo "all checks passed"
