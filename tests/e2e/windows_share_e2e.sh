#!/usr/bin/env bash
# End to end: a watched folder on a network drive whose server writes files
# itself, and then stops answering. Quillbeck.exe under Wine on a private X
# display (Xvfb) watches a FUSE mount (bindfs) reached as drive N:, which
# Wine's registry marks as a network drive, and a folder on the local disk.
# What is written into the mount's backing folder is what a share shows of
# files its server writes, out of reach of any sharing mode.
#
#   windows_share_e2e.sh <Quillbeck.exe> <record_start.exe> <win_post.exe>
#
# Skipped (status 77) without bindfs and a usable /dev/fuse.
set -uo pipefail
source "$(dirname "$0")/../support/e2e.sh"
take_arguments "Quillbeck.exe record_start.exe win_post.exe" program record_start win_post -- "$@"

make_work share-e2e
use_wine_prefix
served="$work/served" mount="$work/mount" local="$work/local" app="$work/app"
record="$work/record.txt"
mkdir -p "$served/Temp" "$mount" "$local/Temp"
# The share: a FUSE mount without kernel caching, so that stopping its
# daemon blocks the very next call into it.
command -v fusermount3 >/dev/null || skip "fusermount3 is not installed"
mount_share "$served" "$mount" -o entry_timeout=0,attr_timeout=0,negative_timeout=0 ||
  skip "bindfs could not mount (is /dev/fuse usable here?)"
daemon=$share_daemon
start_xvfb 1024x768x24 || bail "Xvfb did not start"
add_network_drive n "$mount" || bail "the drive could not be marked as a network drive"
install_program "$program" "$app" Quillbeck.exe
recorder="$(windows_path "$record_start") $(windows_path "$record")"
write_settings "$app/Settings.ini" Debug=1 'Folder 1=N:\' "Shell 1=$recorder share" \
  "Folder 2=$(windows_path "$local")" "Shell 2=$recorder local"
start_program "$app/Quillbeck.exe"
main=$program_pid
check "the program starts and ticks" wait_for_line 120 "$app/Logs/Debug.log" "Timer started"
printf 'one' >"$mount/a.GDT"
check "the share's slot picks up a file" wait_for 20 count_is "$record" share 1

# Twenty lines, one every 0.3 s, written by the server itself.
for i in $(seq 20); do echo "line $i" >>"$served/slow.GDT"; sleep 0.3; done
check "the server's slowly written file is taken once it is whole" wait_for 20 eval \
  '[ ! -e "$served/slow.GDT" ] && [ "$(wc -l <"$served/Temp/slow.GDT")" = 20 ]'
check "and its command started once" wait_for 5 count_is "$record" share 2

# --- the share freezes in the middle of a large copy ------------------------------
# The mount's daemon stopped (SIGSTOP), as a server gone: the local slot
# goes on, tick after tick, the window answers messages, and a file dropped
# meanwhile into the share's folder waits there.
truncate -s 1G "$served/big.GDT"  # sparse: no disk until it is copied
check "a large copy from the share begins" \
  wait_for 30 eval 'ls "$served/Temp" | grep -q "^~quillbeck-.*\.tmp\$"'
network_drive="$WINEPREFIX/dosdevices/n:"
# A Wine process that starts looks at every drive letter, and would wait
# for the frozen one: the letter goes while the server is stopped, so the
# commands the local slot starts (and this script's messages) can run. The
# copy in flight holds the share's files open and keeps waiting.
rm -f "$network_drive"
kill -STOP "$daemon"
printf 'two' >"$served/b.GDT"  # written on the server's side, seen once it answers
printf 'three' >"$local/c.GDT"
check "while it is frozen the local slot picks up a file" wait_for 10 count_is "$record" local 1
check "the window answers a message" grep -q 'answered=1' <<<"$(wp ping)"
printf 'four' >"$local/d.GDT"
check "and a next one, ticks later" wait_for 10 count_is "$record" local 2
check "the local files were moved into Temp" eval \
  '[ "$(cat "$local/Temp/c.GDT" "$local/Temp/d.GDT")" = threefour ] && [ ! -e "$local/c.GDT" ]'
check "the share's file waits" eval 'count_is "$record" share 2 && [ -e "$served/b.GDT" ]'

# --- the share answers again ------------------------------------------------------
# The daemon goes on (SIGCONT): the large file arrives whole and the share's
# slot picks up the waiting one, in the same process. (A link named like a
# pickup cannot be shown here: Wine follows a host's link everywhere and
# shows it as the file it leads to.)
kill -CONT "$daemon"
ln -sfn "$mount" "$network_drive"
check "the large file arrives whole" wait_for 120 eval \
  '[ "$(stat -c %s "$served/Temp/big.GDT" 2>/dev/null)" = 1073741824 ] && [ ! -e "$served/big.GDT" ]'
check "the share's slot works again" wait_for 20 count_is "$record" share 4
check "the file arrived in the share's Temp" eval \
  '[ "$(cat "$served/Temp/b.GDT" 2>/dev/null)" = two ] && [ ! -e "$served/b.GDT" ]'
check "in the same process, never restarted" alive "$main"
# Wine ends a read that the stopped daemon holds with "General failure"
# once it signals the reading thread; that copy is then made again at a
# later tick, as the checks above show. Nothing else may be logged.
check "no error was logged but the frozen read's" \
  eval '! grep -v -F "big.GDT" "$app/Logs/Error.log" 2>/dev/null | grep -q .'

finish "$record" "$app/Logs/Debug.log" "$app/Logs/Error.log"
