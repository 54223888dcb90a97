#!/usr/bin/env bash
# End to end: watched folders where users keep them, with the real Linux
# program (Qt's offscreen platform stands in for a display).
#
#   linux_share_e2e.sh <quillbeck> <record_start>
#
# Slots 1 and 4 watch one FUSE mount (bindfs) of a backing folder, the
# server (people set one folder twice to start two commands per file):
# what is written there is what a share shows of a file another machine
# writes, out of reach of this kernel's leases. Slot 2 watches a local
# folder, slot 3 one whose Temp becomes a symbolic link, slot 5 one whose
# Temp is a read-only mount. Needs root for the mount (or a usable
# fusermount3); the mounts are always undone.
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
take_arguments "<quillbeck> <record_start>" program record_start -- "$@"

make_work share
install="$work/install" backing="$work/server" share="$work/share" local_watch="$work/local"
linked="$work/linked" refusing="$work/refusing" record="$work/record.txt"
mkdir -p "$backing/Temp" "$share" "$local_watch" "$linked" "$refusing/Temp"
install_program "$program" "$install" quillbeck
slot() { printf 'Folder %s=%s\nShell %s="%s" "%s" %s\n' "$1" "$2" "$1" "$record_start" "$record" "$3"; }
mapfile -t slots < <(slot 1 "$share" share; slot 2 "$local_watch" local; slot 3 "$linked" linked
  slot 4 "$share" share; slot 5 "$refusing" refusing)
write_settings "$install/Settings.ini" "${slots[@]}" Debug=1
export QT_QPA_PLATFORM=offscreen
mount_share "$backing" "$share" || skip "bindfs cannot mount here"
daemon_pid=$share_daemon
mount_share "$refusing/Temp" "$refusing/Temp" -o ro || bail "no read-only Temp"
echo refused >"$refusing/refused.GDT"
start_program "$install/quillbeck"
wait_for 15 test -d "$local_watch/Temp" || bail "the program did not start"
descriptors() { ls "/proc/$program_pid/fd" | wc -l; }
wait_for_line 10 "$install/Logs/Error.log" "$refusing"
descriptors_at_start=$(descriptors)

# --- A file that another machine writes slowly ---------------------------------
# Taken only once it is whole, by one slot, with no error on the way, while
# the local slot works meanwhile. Twenty lines, one every 0.3 s: at every
# tick a part of it is there already, and the slot of the same folder sees
# it a moment after slot 1.
(for i in $(seq 20); do echo "line $i" >>"$backing/slow.GDT"; sleep 0.3; done) &
writer_pid=$!
end_on_exit "$writer_pid"
echo local >"$local_watch/meanwhile.GDT"
check "the local slot works while the share's file is still written" \
  wait_for 6 test -f "$local_watch/Temp/meanwhile.GDT"
check "the share's file is not taken while it is written" \
  test ! -e "$backing/Temp/slow.GDT"
wait "$writer_pid"
check "the share's file is taken once it has stopped changing" \
  wait_for 10 test ! -e "$backing/slow.GDT"
check "it arrives in Temp whole" test "$(wc -l <"$backing/Temp/slow.GDT" 2>/dev/null)" = 20
# The refusing Temp fails every tick; its errors are expected.
errors() { grep -v -F "$refusing" "$install/Logs/Error.log" 2>/dev/null; }
check "its command started once, by one of the two slots" test "$(count_of "$record" "^share$")" = 1
check "nothing was logged as an error" test -z "$(errors)"

# --- The server gone --------------------------------------------------------------
# With the FUSE daemon stopped, at rest or in the middle of a large copy,
# the local slot goes on and the window's thread never waits in the file
# system; once the daemon goes on, so does slot 1.
kill -STOP "$daemon_pid"
echo frozen >"$backing/frozen.GDT"
for i in 1 2 3; do
  echo "local $i" >"$local_watch/during-$i.GDT"
  check "the local slot goes on with the share's server gone ($i)" \
    wait_for 8 test -f "$local_watch/Temp/during-$i.GDT"
done
kill -CONT "$daemon_pid"
check "once the server is back, its slot works again without a restart" \
  wait_for 12 test -f "$backing/Temp/frozen.GDT"
check "and the file left the share" test ! -e "$backing/frozen.GDT"

# --- The server gone in the middle of a large copy ---------------------------------
truncate -s 1G "$backing/big.GDT"  # sparse: no disk until it is copied
check "a large copy from the share begins" \
  wait_for 20 eval 'ls -A "$backing/Temp" | grep -q "^\.big\.GDT\.quillbeck-.*\.part\$"'
kill -STOP "$daemon_pid"
# in_file_system: the window's (main) thread waits inside a FUSE request.
in_file_system() { grep -qiE 'fuse|request_wait' "/proc/$program_pid/wchan"; }
echo "mid-copy" >"$local_watch/mid-copy.GDT"
check "the local slot goes on while the share is frozen mid-copy" \
  wait_for 8 test -f "$local_watch/Temp/mid-copy.GDT"
waits=0
for i in $(seq 20); do in_file_system && waits=$((waits + 1)); sleep 0.1; done
check "the window's thread never waits in the file system" test "$waits" = 0
kill -CONT "$daemon_pid"
check "once the server is back, the large file arrives whole" \
  wait_for 60 eval '[ "$(stat -c %s "$backing/Temp/big.GDT" 2>/dev/null)" = 1073741824 ] && [ ! -e "$backing/big.GDT" ]'
rm -f "$backing/Temp/big.GDT"
check "a Temp that refuses new files fails every tick and keeps no descriptor open" \
  eval '[ "$(descriptors)" -le $((descriptors_at_start + 2)) ] && [ "$(grep -c -F "$refusing" "$install/Logs/Error.log")" -ge 5 ] && [ -e "$refusing/refused.GDT" ]'

# --- A Temp that is a link ----------------------------------------------------------
rmdir "$linked/Temp"
ln -s . "$linked/Temp"
echo "keep me" >"$linked/kept.GDT"
check "a Temp linked to its own folder raises an error that names it" \
  wait_for_line 6 "$install/Logs/Error.log" "symbolic link.*$linked/Temp"
check "the file stays where it was, unharmed" test "$(cat "$linked/kept.GDT")" = "keep me"
check "no command started for it" test "$(count_of "$record" "^linked$")" = 0

finish "$work/program.log" "$install/Logs/Error.log"
