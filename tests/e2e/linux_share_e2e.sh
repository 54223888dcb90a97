#!/usr/bin/env bash
# End to end: watched folders where users keep them, with the real Linux
# program (Qt's offscreen platform stands in for a display).
#
#   linux_share_e2e.sh <quillbeck> <record_start>
#
# Slot 1 watches a FUSE mount (bindfs) of a backing folder: a file written
# through the backing folder is what a share shows of a file that another
# machine writes, out of reach of this kernel's leases. Slot 2 watches a
# local folder. Checks that
#  - a file written slowly through the backing folder is taken only once it
#    is whole, with no error on the way, and the local slot works meanwhile;
#  - with the FUSE daemon stopped (a server gone), the local slot goes on
#    and the program still answers; once the daemon goes on, so does slot 1;
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
record="$work/record.txt"
mkdir -p "$install" "$backing/Temp" "$share" "$local_watch" "$linked"
cp "$program" "$install/quillbeck"
printf '[Quillbeck]\r\nFolder 1=%s\r\nShell 1="%s" "%s" share\r\nFolder 2=%s\r\nShell 2="%s" "%s" local\r\nFolder 3=%s\r\nShell 3="%s" "%s" linked\r\nDebug=1\r\n' \
  "$share" "$record_start" "$record" "$local_watch" "$record_start" "$record" \
  "$linked" "$record_start" "$record" >"$install/Settings.ini"

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
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/../support/checks.sh"

bindfs "$backing" "$share" || { echo "SKIP: bindfs cannot mount here"; exit 77; }
daemon_pid=$(pgrep -n -f "bindfs $backing $share")
[ "$(stat -f -c %t "$share")" = 65735546 ] || { echo "Bail out! $share is no FUSE mount"; exit 1; }

(cd / && exec "$install/quillbeck") >"$work/quillbeck.log" 2>&1 &
program_pid=$!
wait_for 15 test -d "$local_watch/Temp" || { echo "Bail out! the program did not start"; exit 1; }

errors() { cat "$install/Logs/Error.log" 2>/dev/null; }
recorded() { grep -c "^$1\$" "$record" 2>/dev/null; }

# --- A file that another machine writes slowly ---------------------------------
# Six lines, one a second: at every tick a part of it is there already.
(for i in 1 2 3 4 5 6; do echo "line $i" >>"$backing/slow.GDT"; sleep 1; done) &
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
check "it arrives in Temp whole" test "$(wc -l <"$backing/Temp/slow.GDT" 2>/dev/null)" = 6
check "its command started once" test "$(recorded share)" = 1
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

# --- A Temp that is a link ----------------------------------------------------------
rmdir "$linked/Temp"
ln -s . "$linked/Temp"
echo "keep me" >"$linked/kept.GDT"
check "a Temp linked to its own folder raises an error that names it" \
  wait_for 6 grep -q "symbolic link.*$linked/Temp" "$install/Logs/Error.log"
check "the file stays where it was, unharmed" test "$(cat "$linked/kept.GDT")" = "keep me"
check "no command started for it" test "$(recorded linked)" = 0

finish
