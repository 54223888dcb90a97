#!/usr/bin/env bash
# End to end: the real Linux program killed in the middle of a copy, then
# started again.
#
#   linux_crash_e2e.sh <quillbeck> <record_start>
#
# Installs the program in a temporary folder with a Settings.ini (slot 1
# watches a temporary folder and starts record_start), moves a large .GDT
# file into the watched folder, waits until the copy's temporary file shows
# in Temp and kills the program with SIGKILL. Then checks that the source is
# still in the watched folder and nothing stands under its name in Temp,
# starts the program again and checks that the file arrives whole (same
# checksum), never partly under its own name, that the command starts
# exactly once and that nothing else remains in Temp. Qt's offscreen
# platform stands in for a display. Every wait is bounded.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <quillbeck> <record_start>" >&2
  exit 2
fi
program=$(readlink -f "$1")
record_start=$(readlink -f "$2")

work=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-crash.XXXXXX")
install="$work/install"
watch="$work/watch"
record="$work/record.txt"
mkdir -p "$install" "$watch"
cp "$program" "$install/quillbeck"
printf '[Quillbeck]\r\nFolder 1=%s\r\nShell 1="%s" "%s" started\r\nDebug=0\r\n' \
  "$watch" "$record_start" "$record" >"$install/Settings.ini"

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

program_pid=
cleanup() {
  if [ -n "$program_pid" ]; then
    { kill -9 "$program_pid"; wait "$program_pid"; } 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/../support/checks.sh"
start_program() {
  (cd / && exec "$install/quillbeck") >>"$work/quillbeck.log" 2>&1 &
  program_pid=$!
}
# temp_entries: the names in Temp, hidden ones too, one a line.
temp_entries() { ls -A "$watch/Temp" 2>/dev/null; }
part_in_temp() { temp_entries | grep -q '^\.big\.GDT\.quillbeck-[a-z0-9]\{12\}\.part$'; }
lines_in() { [ -f "$record" ] && wc -l <"$record" || echo 0; }

# --- Killed mid-copy ----------------------------------------------------------
# The file is written outside the watched folder and moved in whole, so the
# program never sees it being written. It is made large enough for the copy
# to be caught under way; a file system that clones or copies it at once
# gets a larger one, and one that is always too fast skips the test.
caught=false
for mib in 1024 3072; do
  # Room for the file, its copy and the copy left by the kill.
  available=$(df --output=avail -m "$work" | tail -n1)
  if ((available < 3 * mib + 256)); then
    echo "# ${available} MiB free in $work: too little for a ${mib} MiB file"
    break
  fi
  head -c "${mib}M" /dev/urandom >"$work/big.GDT"
  sum=$(sha256sum <"$work/big.GDT")
  size=$(stat -c %s "$work/big.GDT")
  start_program
  for _ in $(seq 150); do [ -d "$watch/Temp" ] && break; sleep 0.1; done
  mv "$work/big.GDT" "$watch/big.GDT"
  # Poll without sleeping in between, since the copy may take well under a
  # second; the final name must never show up before the kill.
  deadline=$((SECONDS + 20))
  partial_seen=false
  while ((SECONDS < deadline)); do
    if [ -e "$watch/Temp/big.GDT" ]; then partial_seen=true; break; fi
    if part_in_temp; then
      { kill -9 "$program_pid"; wait "$program_pid"; } 2>/dev/null
      caught=true
      break
    fi
  done
  { kill -9 "$program_pid"; wait "$program_pid"; } 2>/dev/null
  program_pid=
  $caught && break
  if $partial_seen; then
    echo "# the copy of ${mib} MiB ended before it could be caught"
    rm -rf "$watch/Temp" "$watch/big.GDT" "$record"
    continue
  fi
  not_ok "the copy's temporary file appeared in Temp"
  break
done
if ! $caught; then
  if ((failures == 0)); then echo "SKIP: every copy was over before it could be caught"; exit 77; fi
  cat "$work/quillbeck.log"
  exit 1
fi
ok "killed while copying ${mib} MiB"
check "the source is still in the watched folder" test -f "$watch/big.GDT"
check "the source is whole" test "$(sha256sum <"$watch/big.GDT")" = "$sum"
check "nothing stands under the final name in Temp" test ! -e "$watch/Temp/big.GDT"
check "the temporary copy was left behind by the kill" part_in_temp
check "the command was not started" test "$(lines_in)" -eq 0

# --- Started again ----------------------------------------------------------------
start_program
deadline=$((SECONDS + 60))
whole_only=true
while ((SECONDS < deadline)); do
  if [ -e "$watch/Temp/big.GDT" ]; then
    # Any moment the final name exists, it names the whole file.
    [ "$(stat -c %s "$watch/Temp/big.GDT")" = "$size" ] || whole_only=false
    [ "$(lines_in)" -ge 1 ] && break
  fi
  sleep 0.05
done
check "the file was picked up after the restart" test "$(lines_in)" -ge 1
check "no partial file ever stood under the final name" $whole_only
check "the file arrived whole" test "$(sha256sum <"$watch/Temp/big.GDT")" = "$sum"
check "the source left the watched folder" test ! -e "$watch/big.GDT"
# A few more ticks: the command must not start again.
sleep 5
check "the command started exactly once" test "$(lines_in)" -eq 1
check "nothing else remains in Temp ($(temp_entries | tr '\n' ' '))" \
  test "$(temp_entries)" = "big.GDT"
check "the program still runs" kill -0 "$program_pid"
check "no error was logged" test ! -s "$install/Logs/Error.log"

if ((failures > 0)); then
  echo "--- quillbeck output"; cat "$work/quillbeck.log"
  echo "--- Error.log"; cat "$install/Logs/Error.log" 2>/dev/null
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
