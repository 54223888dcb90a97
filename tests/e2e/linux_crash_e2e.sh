#!/usr/bin/env bash
# End to end: the real Linux program killed in the middle of a copy, then
# started again (Qt's offscreen platform stands in for a display).
#
#   linux_crash_e2e.sh <quillbeck> <record_start>
#
# Killed (SIGKILL) once the copy's temporary file shows in Temp: the source
# stays, whole, and nothing stands under its name in Temp. Started again:
# the file arrives whole, never partly under its own name, the command
# starts exactly once and nothing else remains in Temp.
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
take_arguments "<quillbeck> <record_start>" program record_start -- "$@"

make_work crash
install="$work/install" watch="$work/watch" record="$work/record.txt"
mkdir -p "$watch"
install_program "$program" "$install" quillbeck
write_settings "$install/Settings.ini" "Folder 1=$watch" \
  "Shell 1=\"$record_start\" \"$record\" started" Debug=0
export QT_QPA_PLATFORM=offscreen
# temp_entries: the names in Temp, hidden ones too, one a line.
temp_entries() { ls -A "$watch/Temp" 2>/dev/null; }
part_in_temp() { temp_entries | grep -q '^\.big\.GDT\.quillbeck-[a-z0-9]\{12\}\.part$'; }
killed() { { kill -9 "$program_pid"; wait "$program_pid"; } 2>/dev/null; }

# --- Killed mid-copy ----------------------------------------------------------
# The file is written outside the watched folder and moved in whole, so the
# program never sees it being written. It is made large enough for the copy
# to be caught under way; a file system that clones or copies it at once
# gets a larger one, and one that is always too fast skips the test. It
# needs room for the file, its copy and the copy left by the kill.
caught=false
for mib in 1024 3072; do
  available=$(df --output=avail -m "$work" | tail -n1)
  ((available >= 3 * mib + 256)) ||
    { echo "# ${available} MiB free in $work: too little for a ${mib} MiB file"; break; }
  head -c "${mib}M" /dev/urandom >"$work/big.GDT"
  sum=$(sha256sum <"$work/big.GDT") size=$(stat -c %s "$work/big.GDT")
  start_program "$install/quillbeck"
  wait_for 15 test -d "$watch/Temp"
  mv "$work/big.GDT" "$watch/big.GDT"
  # Polled without sleeping in between, since the copy may take well under a
  # second; the final name must never show up before the kill.
  deadline=$((SECONDS + 20)) partial_seen=false
  while ((SECONDS < deadline)) && ! $caught; do
    if [ -e "$watch/Temp/big.GDT" ]; then partial_seen=true; break; fi
    part_in_temp && { killed; caught=true; }
  done
  killed
  $caught && break
  $partial_seen || { not_ok "the copy's temporary file appeared in Temp"; break; }
  echo "# the copy of ${mib} MiB ended before it could be caught"
  rm -rf "$watch/Temp" "$watch/big.GDT" "$record"
done
if ! $caught; then
  ((failures > 0)) || skip "every copy was over before it could be caught"
  finish "$work/program.log"
fi
ok "killed while copying ${mib} MiB"
check "the source is still in the watched folder" test -f "$watch/big.GDT"
check "the source is whole" test "$(sha256sum <"$watch/big.GDT")" = "$sum"
check "nothing stands under the final name in Temp" test ! -e "$watch/Temp/big.GDT"
check "the temporary copy was left behind by the kill" part_in_temp
check "the command was not started" test "$(lines_of "$record")" -eq 0

# --- Started again ----------------------------------------------------------------
start_program "$install/quillbeck"
deadline=$((SECONDS + 60))
whole_only=true
while ((SECONDS < deadline)); do
  if [ -e "$watch/Temp/big.GDT" ]; then
    # Any moment the final name exists, it names the whole file.
    [ "$(stat -c %s "$watch/Temp/big.GDT")" = "$size" ] || whole_only=false
    [ "$(lines_of "$record")" -ge 1 ] && break
  fi
  sleep 0.05
done
check "the file was picked up after the restart" test "$(lines_of "$record")" -ge 1
check "no partial file ever stood under the final name" $whole_only
check "the file arrived whole" test "$(sha256sum <"$watch/Temp/big.GDT")" = "$sum"
check "the source left the watched folder" test ! -e "$watch/big.GDT"
# A few more ticks: the command must not start again.
sleep 5
check "the command started exactly once" test "$(lines_of "$record")" -eq 1
check "nothing else remains in Temp ($(temp_entries | tr '\n' ' '))" \
  test "$(temp_entries)" = "big.GDT"
check "the program still runs" alive "$program_pid"
check "no error was logged" test ! -s "$install/Logs/Error.log"

finish "$work/program.log" "$install/Logs/Error.log"
