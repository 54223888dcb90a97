#!/usr/bin/env bash
# End to end: Quillbeck.exe under Wine on a private X display (Xvfb), killed
# outright (SIGKILL: no handler, no clean-up of its own) in the middle of a
# 1 GiB copy, then started again: the file arrives whole, its command starts
# exactly once, nothing of its own is left in any slot's Temp, and files of
# other names there, ours-looking or not, are left alone.
#
#   windows_crash_e2e.sh <Quillbeck.exe> <record_start.exe>
#
# Needs about 3 GiB free under $TMPDIR.
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
take_arguments "Quillbeck.exe record_start.exe" program record_start -- "$@"
size_mib=1024

make_work crash-e2e
use_wine_prefix
free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
((free_kib >= (size_mib * 3 + 256) * 1024)) ||
  bail "$work has $((free_kib / 1024)) MiB free; the crash test needs $((size_mib * 3 + 256))"
start_xvfb 1024x768x24 || bail "Xvfb did not start"
app="$work/app" watch="$work/watch1" other="$work/watch2" record="$work/record.txt"
debug_log="$work/app/Logs/Debug.log"
mkdir -p "$watch" "$other/Temp"
install_program "$program" "$app" Quillbeck.exe
recorder="$(windows_path "$record_start") $(windows_path "$record")"
write_settings "$app/Settings.ini" Debug=1 "Folder 1=$(windows_path "$watch")" \
  "Shell 1=$recorder slot1" "Folder 2=$(windows_path "$other")" "Shell 2=$recorder slot2"
# The large file is written beside the watched folder and renamed into it, so
# the program only ever sees it whole.
head -c $((size_mib << 20)) /dev/urandom >"$work/big.bin"
checksum() { sha256sum <"$1" | cut -d' ' -f1; }
sum=$(checksum "$work/big.bin")

# --- the crash ------------------------------------------------------------
start_program "$app/Quillbeck.exe"
check "the program starts and ticks" wait_for_line 120 "$debug_log" "Timer started"
temporary_copies() { compgen -G "$1/~quillbeck-*.tmp"; }
listing() { find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | tr '\n' ' '; }
# exe_pid: the process of Quillbeck.exe itself, the one child of the
# launcher (wine-run ends in timeout, which starts Wine, which becomes it).
exe_pid() {
  local pid
  for pid in $(pgrep -P "$program_pid"); do
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'Quillbeck\.exe' && echo "$pid"
  done
}
pid=$(exe_pid)
[ -n "$pid" ] || bail "no process of Quillbeck.exe found"

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
wait "$program_pid" 2>/dev/null
if [ -z "$caught" ]; then
  not_ok "the copy was caught in the middle (it was over, or never began)"
  exit 1
fi
check "the program is killed" wait_for 20 ended "$pid"
leftover=$(temporary_copies "$watch/Temp" | head -1)
if [ -n "$leftover" ]; then
  ok "the killed copy left its temporary file ($(stat -c %s "$leftover") of $((size_mib << 20)) bytes)"
else
  not_ok "the killed copy left its temporary file"
fi
check "nothing lies in Temp under the file's own name" test ! -e "$watch/Temp/big.GDT"
check "the source is still in the watched folder, whole" \
  test "$(checksum "$watch/big.GDT" 2>/dev/null)" = "$sum"
check "the command was not started" test "$(lines_of "$record")" = 0

# An abandoned copy in a slot where nothing arrives, and files in Temp that
# only look like ours, or are nothing of ours.
printf 'half' >"$other/Temp/~quillbeck-00000abc-12345678.tmp"
printf 'keep' >"$watch/Temp/other.tmp"
printf 'keep' >"$watch/Temp/~quillbeck-x.tmp.GDT"
printf 'keep' >"$other/Temp/~quillbeck-00000abc-1234567.tmp"

# --- the start after it ---------------------------------------------------
: >"$debug_log"
start_program "$app/Quillbeck.exe"
check "started again, the program starts the command" wait_for 180 test -s "$record"
check "the file arrived in Temp whole" test "$(checksum "$watch/Temp/big.GDT" 2>/dev/null)" = "$sum"
check "and left the watched folder" test ! -e "$watch/big.GDT"
sleep 6  # three more ticks: nothing may start again
check "the command started exactly once" test "$(lines_of "$record")" = 1
check "it was slot 1's command" grep -qx slot1 "$record"
check "nothing else of ours remains in Temp" \
  test "$(listing "$watch/Temp")" = "big.GDT other.tmp ~quillbeck-x.tmp.GDT "
check "start-up cleared the abandoned copy of a slot where nothing arrived" \
  test "$(listing "$other/Temp")" = "~quillbeck-00000abc-1234567.tmp "
check "no error was logged" test ! -s "$app/Logs/Error.log"

echo "--- Temp: $(listing "$watch/Temp")"
finish "$debug_log" "$app/Logs/Error.log"
