#!/usr/bin/env bash
# End to end: watched folders where users keep them, with the real Linux
# program (Qt's offscreen platform stands in for a display).
#
#   linux_share_e2e.sh <quillbeck> <record_start>
#
# Slots 1 and 4 both watch a FUSE mount (bindfs) of a backing folder (people
# set one folder twice to start two commands per file): a file written
# through the backing folder is what a share shows of a file that another
# machine writes, out of reach of this kernel's leases. Slot 2 watches a
# local folder; slot 5 one whose Temp is a read-only mount. Checks that
#  - a file written slowly through the backing folder is taken only once it
#    is whole, by one slot, with no error on the way, and the local slot
#    works meanwhile;
#  - with the FUSE daemon stopped (a server gone), at rest or in the middle
#    of a large copy, the local slot goes on and the window's thread never
#    waits in the file system; once the daemon goes on, so does slot 1, and
#    the large file arrives whole;
#  - a Temp that refuses new files fails every tick without keeping a
#    descriptor open;
#  - a Temp that is a symbolic link is never written through: the file
#    stays where it is and Error.log says why.
# Needs root for the mount (or a usable fusermount3); every wait is bounded
# and the mount is always undone.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <quillbeck> <record_start>" >&2
  exit 2
fi
program=$(readlink -f "$1")
record_start=$(readlink -f "$2")
command -v bindfs >/dev/null || { echo "SKIP: bindfs is not installed"; exit 77; }
[ -w /dev/fuse ] || { echo "SKIP: /dev/fuse cannot be opened here"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillbeck-share.XXXXXX")
install="$work/install"
backing="$work/server"     # the other machine's folder
share="$work/share"        # this machine's mount of it
local_watch="$work/local"
linked="$work/linked"
refusing="$work/refusing"  # its Temp is mounted read-only
record="$work/record.txt"
mkdir -p "$install" "$backing/Temp" "$share" "$local_watch" "$linked" "$refusing/Temp"
cp "$program" "$install/quillbeck"
printf '[Quillbeck]\r\nFolder 1=%s\r\nShell 1="%s" "%s" share\r\nFolder 2=%s\r\nShell 2="%s" "%s" local\r\nFolder 3=%s\r\nShell 3="%s" "%s" linked\r\nFolder 4=%s\r\nShell 4="%s" "%s" share\r\nFolder 5=%s\r\nShell 5="%s" "%s" refusing\r\nDebug=1\r\n' \
  "$share" "$record_start" "$record" "$local_watch" "$record_start" "$record" \
  "$linked" "$record_start" "$record" "$share" "$record_start" "$record" \
  "$refusing" "$record_start" "$record" >"$install/Settings.ini"

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

program_pid=
writer_pid=
daemon_pid=
cleanup() {
  [ -n "$daemon_pid" ] && kill -CONT "$daemon_pid" 2>/dev/null
  [ -n "$writer_pid" ] && kill "$writer_pid" 2>/dev/null
  [ -n "$program_pid" ] && { kill -9 "$program_pid"; wait "$program_pid"; } 2>/dev/null
  mountpoint -q "$share" && { fusermount3 -u "$share" 2>/dev/null || umount -l "$share"; }
  mountpoint -q "$refusing/Temp" && { fusermount3 -u "$refusing/Temp" 2>/dev/null || umount -l "$refusing/Temp"; }
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/../support/checks.sh"

bindfs "$backing" "$share" || { echo "SKIP: bindfs cannot mount here"; exit 77; }
daemon_pid=$(pgrep -n -f "bindfs $backing $share")
[ "$(stat -f -c %t "$share")" = 65735546 ] || { echo "Bail out! $share is no FUSE mount"; exit 1; }

bindfs -o ro "$refusing/Temp" "$refusing/Temp" || { echo "Bail out! no read-only Temp"; exit 1; }
echo refused >"$refusing/refused.GDT"

(cd / && exec "$install/quillbeck") >"$work/quillbeck.log" 2>&1 &
program_pid=$!
wait_for 15 test -d "$local_watch/Temp" || { echo "Bail out! the program did not start"; exit 1; }

# The refusing Temp fails every tick from here on; its errors are expected.
errors() { grep -v -F "$refusing" "$install/Logs/Error.log" 2>/dev/null; }
recorded() { grep -c "^$1\$" "$record" 2>/dev/null; }
descriptors() { ls "/proc/$program_pid/fd" | wc -l; }
wait_for 10 grep -q -F "$refusing" "$install/Logs/Error.log" 2>/dev/null
descriptors_at_start=$(descriptors)
# in_file_system: the window's (main) thread waits inside a FUSE request.
in_file_system() { grep -qiE 'fuse|request_wait' "/proc/$program_pid/wchan"; }

# --- A file that another machine writes slowly ---------------------------------
# Twenty lines, one every 0.3 s: at every tick a part of it is there
# already, and the slot of the same folder sees it a moment after slot 1.
(for i in $(seq 20); do echo "line $i" >>"$backing/slow.GDT"; sleep 0.3; done) &
writer_pid=$!
echo local >"$local_watch/meanwhile.GDT"
check "the local slot works while the share's file is still written" \
  wait_for 6 test -f "$local_watch/Temp/meanwhile.GDT"
check "the share's file is not taken while it is written" \
  test ! -e "$backing/Temp/slow.GDT"
wait "$writer_pid"
writer_pid=
check "the share's file is taken once it has stopped changing" \
  wait_for 10 test ! -e "$backing/slow.GDT"
check "it arrives in Temp whole" test "$(wc -l <"$backing/Temp/slow.GDT" 2>/dev/null)" = 20
check "its command started once, by one of the two slots" test "$(recorded share)" = 1
check "nothing was logged as an error" test -z "$(errors)"

# --- The server gone --------------------------------------------------------------
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
  wait_for 6 grep -q "symbolic link.*$linked/Temp" "$install/Logs/Error.log"
check "the file stays where it was, unharmed" test "$(cat "$linked/kept.GDT")" = "keep me"
check "no command started for it" test "$(recorded linked)" = 0

finish
