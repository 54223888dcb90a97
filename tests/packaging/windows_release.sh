#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2034,SC2317 # checks are strings for eval, expanded when they run
# The Windows release files, installed as a user would, under Wine in a
# fresh prefix: the MSI (install, the installed program at work, a major
# upgrade and an uninstall while it runs, a failed install, AUTOSTART=0,
# SETTINGS=) and the zip (its contents, its exe at work). The files are made by
# packaging/windows/build-release, the command scripts/package uses, from a
# built Windows tree, and signed by a certificate authority made here for
# the run; installers of higher versions, unsigned, drive the upgrades, the
# first of them from an exe that differs in its bytes.
#
#   windows_release.sh <windows-build-dir> <record_start.exe>
#
# Ends with "packaging: N passed, M failed"; the status is non-zero on any
# failure. Every wait is bounded; the prefix's wineserver and the temporary
# folder go on exit, whatever happened.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/tests/support/e2e.sh"
checks_name=packaging
take_arguments "<windows-build-dir> <record_start.exe>" build record_start -- "$@"

make_work release
# A prefix of its own, made on first use: nothing installed by an earlier
# run can make a check pass. Headless: the program needs no drawn window
# to pick files up.
use_wine_prefix "$work/prefix"
unset DISPLAY
wine() { "$wine_run" --headless --timeout 300 "$@" </dev/null 2>/dev/null | tr -d '\r'; }
same_file() { [ -f "$1" ] && [ -f "$2" ] && cmp -s "$1" "$2"; }

# --- the release files -------------------------------------------------------
# A throwaway certificate authority and a code-signing certificate it issued.
ca="$work/ca"
mkdir -p "$ca"
{
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillbeck test authority" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    -keyout "$ca/authority.key" -out "$ca/authority.pem" &&
    openssl req -newkey rsa:2048 -nodes -subj "/CN=Quillbeck test signer" \
      -keyout "$ca/signer.key" -out "$ca/signer.csr" &&
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
      >"$ca/signer.ext" &&
    openssl x509 -req -days 2 -in "$ca/signer.csr" -CA "$ca/authority.pem" -CAkey "$ca/authority.key" \
      -CAcreateserial -extfile "$ca/signer.ext" -out "$ca/signer.pem"
} >/dev/null 2>&1 || { echo "openssl could not make the test certificates"; failures=$((failures + 1)); finish; }

version=$(sed -n -E 's/^CMAKE_PROJECT_VERSION:[A-Z]+=(.*)$/\1/p' "$build/CMakeCache.txt")
IFS=. read -r major minor patch <<<"$version"
newer="$major.$minor.$((patch + 1))"
newest="$major.$minor.$((patch + 2))"
QUILLBECK_SIGN_CERT="$ca/signer.pem" QUILLBECK_SIGN_KEY="$ca/signer.key" \
  "$root/packaging/windows/build-release" "$build" "$work/dist" >/dev/null \
  || { echo "build-release failed"; failures=$((failures + 1)); finish; }
# The newer release carries an exe a few bytes longer than the built one, so
# an upgrade that leaves the old exe in place shows.
newer_build="$work/newer-build"
mkdir -p "$newer_build/bin"
ln -s "$build/CMakeCache.txt" "$newer_build/CMakeCache.txt"
cp "$build/bin/Quillbeck.exe" "$build/bin/QuillbeckSetup.dll" "$newer_build/bin/"
printf 'newer' >>"$newer_build/bin/Quillbeck.exe"
newer_exe="$newer_build/bin/Quillbeck.exe"
QUILLBECK_RELEASE_VERSION=$newer "$root/packaging/windows/build-release" "$newer_build" "$work/newer" \
  >/dev/null || { echo "build-release of $newer failed"; failures=$((failures + 1)); finish; }
QUILLBECK_RELEASE_VERSION=$newest "$root/packaging/windows/build-release" "$build" "$work/newest" \
  >/dev/null || { echo "build-release of $newest failed"; failures=$((failures + 1)); finish; }
msi="$work/dist/Quillbeck-$version-win64.msi"
zip="$work/dist/Quillbeck-$version-win64.zip"
newer_msi="$work/newer/Quillbeck-$newer-win64.msi"
newest_msi="$work/newest/Quillbeck-$newest-win64.msi"
check "build-release wrote Quillbeck-$version-win64.zip and .msi" test -f "$msi" -a -f "$zip"

# The one number: project() -> exe version resource -> MSI -> file names.
resource=$(x86_64-w64-mingw32-windres -i "$build/bin/Quillbeck.exe" -O rc 2>/dev/null)
check "the exe's version resource and manifest carry $version" eval \
  'grep -qF "\"FileVersion\", \"$version\"" <<<"$resource" &&
   grep -qF "\"ProductVersion\", \"$version\"" <<<"$resource" &&
   tr -d " " <<<"$resource" | grep -q "^FILEVERSION${version//./,},0$" &&
   tr -d " " <<<"$resource" | grep -q "^PRODUCTVERSION${version//./,},0$" &&
   grep -qF "name=\"\"Quillbeck\"\" version=\"\"$version.0\"\"" <<<"$resource"'
msi_property() { msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^$2\t//p"; }
check "the MSI's ProductVersion is $version" test "$(msi_property "$msi" ProductVersion)" = "$version"
check "both MSIs share one UpgradeCode, each with its own ProductCode" eval \
  '[ -n "$(msi_property "$msi" UpgradeCode)" ] &&
   [ "$(msi_property "$msi" UpgradeCode)" = "$(msi_property "$newer_msi" UpgradeCode)" ] &&
   [ "$(msi_property "$msi" ProductCode)" != "$(msi_property "$newer_msi" ProductCode)" ]'
sequence_of() { msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | awk -F'\t' -v a="$1" '$1 == a { print $3 }'; }
check "a major upgrade removes the older version before it installs anything" eval \
  '[ "$(sequence_of InstallValidate)" -lt "$(sequence_of RemoveExistingProducts)" ] &&
   [ "$(sequence_of RemoveExistingProducts)" -lt "$(sequence_of InstallInitialize)" ]'
check "the MSI ships no Settings.ini and no Logs" eval \
  '[ "$(msiinfo export "$msi" File | tail -n +4 | cut -f3 | tr -d "\r")" = Quillbeck.exe ]'
check "a running copy is closed before InstallValidate and started after InstallFinalize" eval \
  '[ "$(sequence_of CloseRunningCopies)" -lt "$(sequence_of InstallValidate)" ] &&
   [ "$(sequence_of StartClosedCopy)" -gt "$(sequence_of InstallFinalize)" ]'
check "SETTINGS= is checked before a running copy is closed, and copied last in the script" eval \
  '[ "$(sequence_of CheckSettingsFile)" -lt "$(sequence_of CloseRunningCopies)" ] &&
   [ "$(msiinfo export "$msi" InstallExecuteSequence | tr -d "\r" |
        awk -F"\t" -v f="$(sequence_of InstallFinalize)" "\$3 > $(sequence_of CopySettingsFile) && \$3 < f" | wc -l)" = 0 ]'

# --- signatures --------------------------------------------------------------------
signed="$work/signed"
mkdir -p "$signed"
unzip -q "$zip" Quillbeck.exe -d "$signed/zip"
msiextract -C "$signed/msi" "$msi" >/dev/null
signed_exe="$signed/zip/Quillbeck.exe"
verifies() { osslsigncode verify -CAfile "$ca/authority.pem" -in "$1" >/dev/null 2>&1; }
# one_byte_changed <file> <copy>: the copy with the byte in the middle of the file changed.
one_byte_changed() {
  local offset byte
  cp "$1" "$2"
  offset=$(($(stat -c %s "$1") / 2))
  byte=$(od -An -tu1 -j "$offset" -N 1 "$1" | tr -d ' ')
  printf '%b' "\\0$(printf %03o $(((byte + 1) % 256)))" | dd of="$2" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  [ "$(cmp -l "$1" "$2" | wc -l)" = 1 ]
}
check "the zip's exe is signed by the certificate given" verifies "$signed_exe"
check "the MSI carries the same signed exe" same_file "$signed/msi/Programs/Quillbeck/Quillbeck.exe" "$signed_exe"
check "the MSI is signed after its last change" verifies "$msi"
check "one byte changed after signing, the exe is rejected" eval \
  'one_byte_changed "$signed_exe" "$signed/changed.exe" && ! verifies "$signed/changed.exe"'
check "one byte changed after signing, the MSI is rejected" eval \
  'one_byte_changed "$msi" "$signed/changed.msi" && ! verifies "$signed/changed.msi"'
check "without a certificate the release is built unsigned" eval \
  '! osslsigncode extract-signature -in "$newest_msi" -out "$signed/none.sig" >/dev/null 2>&1'

# --- where the installer puts things -------------------------------------------
wine wineboot --init >/dev/null
local_appdata=$(wine cmd /c echo %LOCALAPPDATA%)
appdata=$(wine cmd /c echo %APPDATA%)
local_unix=$(wine winepath -u "$local_appdata")
appdata_unix=$(wine winepath -u "$appdata")
if [ ! -d "$local_unix" ] || [ ! -d "$appdata_unix" ]; then
  echo "no profile folders in the prefix ('$local_appdata', '$appdata')"
  failures=$((failures + 1))
  finish
fi
folder="$local_unix/Programs/Quillbeck"
exe="$folder/Quillbeck.exe"
exe_windows="$local_appdata\\Programs\\Quillbeck\\Quillbeck.exe"
shortcut="$appdata_unix/Microsoft/Windows/Start Menu/Programs/Quillbeck.lnk"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

msiexec() { "$wine_run" --headless --timeout 300 msiexec "$@" </dev/null >/dev/null 2>&1; }
run_value() { wine reg query "$run_key" /v Quillbeck | sed -n -E 's/^ +Quillbeck +REG_SZ +//p'; }
no_run_value() { [ -z "$(run_value)" ]; }
# installed: "<DisplayVersion>" of each product named Quillbeck that
# Windows Installer registered, one a line; per-user products may be listed
# under either hive.
installed() {
  local hive
  for hive in HKCU HKLM; do
    wine reg query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s |
      awk '/^HKEY_/ { if (name == "Quillbeck") print shown; name = ""; shown = "" }
           $1 == "DisplayName" { name = $3 }
           $1 == "DisplayVersion" { shown = $3 }
           END { if (name == "Quillbeck") print shown }'
  done
}
# copies_of <installed|unpacked>: how many Quillbeck.exe processes of this
# prefix run from the install folder, or from the unpacked zip.
copies_of() {
  local pattern='Programs[\\/]Quillbeck[\\/]Quillbeck\.exe' pid count=0
  [ "$1" = installed ] || pattern='unpacked[\\/]Quillbeck\.exe'
  for pid in $(pgrep -x Quillbeck.exe); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qiE "$pattern" && count=$((count + 1))
  done
  echo "$count"
}
runs() { [ "$(copies_of "$1")" = "$2" ]; }
shortcut_targets_exe() { [ -f "$shortcut" ] && strings -a -n 8 "$shortcut" | grep -qiF 'Programs\Quillbeck\Quillbeck.exe'; }

# --- 1. a silent install ---------------------------------------------------------
msiexec /i "$(windows_path "$msi")" /qn SETTINGS='Z:\no\such\Settings.ini' /l*v "$(windows_path "$work/refused.log")"
status=$?
check "SETTINGS= naming a file that cannot be read fails the install (status $status), saying why" eval \
  '[ "$status" -ne 0 ] && grep -qF "SETTINGS=Z:\no\such\Settings.ini cannot be read" "$work/refused.log" &&
   [ ! -e "$folder" ] && [ -z "$(installed)" ]'
printf '[Other]\r\nFolder 1=C:\\in\r\n' >"$work/not-ours.ini"
msiexec /i "$(windows_path "$msi")" /qn SETTINGS="$(windows_path "$work/not-ours.ini")"
status=$?
check "and so does one without the program's section (status $status)" eval \
  '[ "$status" -ne 0 ] && [ ! -e "$folder" ] && [ -z "$(installed)" ]'
msiexec /i "$(windows_path "$msi")" /qn /l*v "$(windows_path "$work/install.log")"
check "msiexec /i /qn of the signed MSI succeeds" test $? -eq 0
check "the exe lands in AppData\\Local\\Programs\\Quillbeck" same_file "$exe" "$signed_exe"
check "and nothing else" test "$(ls -A "$folder" 2>/dev/null)" = Quillbeck.exe
check "the Start Menu shortcut points at it" shortcut_targets_exe
check "the Run value starts it, quoted" test "$(run_value)" = "\"$exe_windows\""
check "Windows Installer lists Quillbeck $version" test "$(installed)" = "$version"
check "the install ran without administrator privileges requested" eval \
  '[ "$(msiinfo suminfo "$msi" | sed -n "s/^Source: \([0-9]*\).*/\1/p")" -ge 8 ] &&
   ! msi_property "$msi" ALLUSERS | grep -q .'

# --- 2. the installed program picks up a file ---------------------------------------
mkdir -p "$work/watch"
record="$work/record.txt"
write_settings "$folder/Settings.ini" Debug=1 "Folder 1=$(windows_path "$work/watch")" \
  "Shell 1=$(windows_path "$record_start") $(windows_path "$record") picked"
# A session start: wineboot without arguments runs what the Run key names,
# as Windows does at login.
"$wineserver" -k >/dev/null 2>&1
"$wine_run" --headless --timeout 120 wineboot </dev/null >/dev/null 2>&1 &
check "a session start runs the installed program through the Run value" \
  wait_for 90 test -d "$work/watch/Temp"
printf 'payload' >"$work/watch/one.GDT"
check "it moves a .GDT file into Temp and starts the slot's command" eval \
  'wait_for 30 count_is "$record" picked 1 && file_is "$work/watch/Temp/one.GDT" payload &&
   [ ! -e "$work/watch/one.GDT" ]'
check "it writes its trace into Logs beside itself" wait_for_line 10 "$folder/Logs/Debug.log" one.GDT
"$wineserver" -k >/dev/null 2>&1
wait 2>/dev/null
# The user's own files, as the upgrade and the uninstall must leave them.
# The trace goes off, so a running copy writes nothing into Logs.
sed -i 's/^Debug=1\r$/Debug=0\r/' "$folder/Settings.ini"
printf '\r\n; kept by the user\r\n' >>"$folder/Settings.ini"
cp "$folder/Settings.ini" "$work/Settings.before"
cp "$folder/Logs/Debug.log" "$work/Debug.before"
user_files_kept() {
  same_file "$folder/Settings.ini" "$work/Settings.before" &&
    same_file "$folder/Logs/Debug.log" "$work/Debug.before"
}

# --- 3. a newer MSI upgrades it while it runs ---------------------------------------
# The installed program runs, as after a login, and so does a copy of the
# same exe unpacked from the zip elsewhere, which the installer must leave
# alone. Each has made its watched folder's Temp once its window is up.
rm -rf "$work/watch/Temp"
"$wine_run" --headless --timeout 300 "$exe" </dev/null >/dev/null 2>&1 &
unpacked="$work/unpacked"
unzip -q "$zip" -d "$unpacked"
mkdir -p "$work/zipwatch"
write_settings "$unpacked/Settings.ini" "Folder 1=$(windows_path "$work/zipwatch")"
"$wine_run" --headless --timeout 300 "$unpacked/Quillbeck.exe" </dev/null >/dev/null 2>&1 &
check "the installed program and a copy from the zip run" eval \
  'wait_for 90 test -d "$work/watch/Temp" -a -d "$work/zipwatch/Temp" && runs installed 1 && runs unpacked 1'
msiexec /i "$(windows_path "$newer_msi")" /qn /l*v "$(windows_path "$work/upgrade.log")"
status=$?
check "the $newer MSI installs over the running $version (status $status)" test "$status" -eq 0
# Wine's msiexec holds the elevated half of a split token, as one started
# from an elevated prompt does.
check "the elevated installer starts the copy again with its limited token, not its own" \
  grep -qF "again with the installer's limited token" "$work/upgrade.log"
check "one product is installed, version $newer" test "$(installed)" = "$newer"
check "the installed exe is the new one; the shortcut and the Run value are there" eval \
  'same_file "$exe" "$newer_exe" && shortcut_targets_exe && [ "$(run_value)" = "\"$exe_windows\"" ]'
printf 'after the upgrade' >"$work/watch/two.GDT"
check "exactly one copy runs again, and it picks up a file" eval \
  'wait_for 30 count_is "$record" picked 2 && file_is "$work/watch/Temp/two.GDT" "after the upgrade" &&
   runs installed 1'
check "the copy from the zip was left running" runs unpacked 1
check "Settings.ini and Logs survive the upgrade unchanged" user_files_kept
msiexec /i "$(windows_path "$msi")" /qn
status=$?
check "the older MSI refuses to downgrade (status $status), leaving the program running" eval \
  '[ "$status" -ne 0 ] && [ "$(installed)" = "$newer" ] && user_files_kept && runs installed 1'

# --- 4. uninstall while it runs --------------------------------------------------------
msiexec /x "$(windows_path "$newer_msi")" /qn
check "msiexec /x succeeds" test $? -eq 0
check "the exe is gone" test ! -e "$exe"
check "the shortcut is gone" test ! -e "$shortcut"
check "the Run value is gone" no_run_value
check "no copy of the installed program runs" runs installed 0
check "no product is left installed" test -z "$(installed)"
check "Settings.ini and Logs stay, unchanged, in their folder" user_files_kept

# --- 4b. a failed install over a running copy ----------------------------------------
# The zip's exe, unpacked where the MSI installs, runs; the MSI's cabinet is
# missing and its exe claims a higher version, so the install fails while
# it copies files, after the copy was closed.
cp "$unpacked/Quillbeck.exe" "$folder/"
"$wine_run" --headless --timeout 300 "$exe" </dev/null >/dev/null 2>&1 &
check "a copy runs where the MSI installs" wait_for 90 runs installed 1
broken="$work/broken.msi"
cp "$msi" "$broken"
msibuild "$broken" -q "UPDATE \`Media\` SET \`Cabinet\` = '#missing.cab'" \
  -q "UPDATE \`File\` SET \`Version\` = '99.0.0.0'"
msiexec /i "$(windows_path "$broken")" /qn /l*v "$(windows_path "$work/failed.log")"
status=$?
check "an install that fails (status $status) starts the copy it closed again" eval \
  '[ "$status" -ne 0 ] && [ -z "$(installed)" ] && grep -q "Quillbeck.exe ended" "$work/failed.log" &&
   grep -q "started .* again" "$work/failed.log" && wait_for 30 runs installed 1'
"$wineserver" -k >/dev/null 2>&1
wait 2>/dev/null

# --- 5. AUTOSTART=0 --------------------------------------------------------------------
# A user who never ran the program: no files of their own in the folder.
# The administrator hands over a settings file with SETTINGS=.
rm -rf "$folder"
mkdir -p "$work/watch5"
write_settings "$work/seed.ini" "Folder 1=$(windows_path "$work/watch5")"
msiexec /i "$(windows_path "$msi")" /qn AUTOSTART=0 SETTINGS="$(windows_path "$work/seed.ini")"
check "a silent install with AUTOSTART=0 succeeds" test $? -eq 0
check "SETTINGS= put its file in place as Settings.ini" same_file "$folder/Settings.ini" "$work/seed.ini"
check "and writes no Run value" no_run_value
check "but the exe and the shortcut" eval 'same_file "$exe" "$signed_exe" && shortcut_targets_exe'
# Running, started by hand; the seeded slot only shows when it is up.
"$wine_run" --headless --timeout 300 "$exe" </dev/null >/dev/null 2>&1 &
check "the program runs with the seeded slot" eval 'wait_for 90 test -d "$work/watch5/Temp" && runs installed 1'
write_settings "$work/other.ini" 'Folder 1=C:\elsewhere'
msiexec /i "$(windows_path "$newer_msi")" /qn SETTINGS="$(windows_path "$work/other.ini")"
check "an upgrade without AUTOSTART keeps it off" eval '[ "$(installed)" = "$newer" ] && no_run_value'
check "an upgrade with another SETTINGS= leaves the Settings.ini there as it was" \
  same_file "$folder/Settings.ini" "$work/seed.ini"
check "and with AUTOSTART off it closes the running copy, replaces it and starts none" eval \
  'same_file "$exe" "$newer_exe" && runs installed 0 && sleep 2 && runs installed 0'
rm -f "$folder/Settings.ini"
msiexec /i "$(windows_path "$newest_msi")" /qn AUTOSTART=1
check "an upgrade with AUTOSTART=1 turns it on" eval \
  '[ "$(installed)" = "$newest" ] && [ "$(run_value)" = "\"$exe_windows\"" ]'
msiexec /x "$(windows_path "$newest_msi")" /qn
check "uninstalling takes the then empty folder and the Run value away" eval \
  '[ ! -e "$folder" ] && no_run_value && [ -z "$(installed)" ]'

# --- 6. the zip --------------------------------------------------------------------------
check "the zip holds Quillbeck.exe, README.txt and LICENSE.txt, no more" test \
  "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "LICENSE.txt Quillbeck.exe README.txt "
check "its exe is the built one, signed" same_file "$unpacked/Quillbeck.exe" "$signed_exe"
check "its README names version $version and says where Settings.ini and Logs live" eval \
  'grep -q "Quillbeck $version" "$unpacked/README.txt" && grep -q "Settings.ini" "$unpacked/README.txt" &&
   grep -q "Logs.Error.log" "$unpacked/README.txt" && ! grep -q "@" "$unpacked/README.txt"'
check "its license is the project's, with Windows line ends" eval \
  'diff -q <(tr -d "\r" <"$unpacked/LICENSE.txt") "$root/LICENSE" >/dev/null &&
   [ "$(grep -c $'"'"'\r$'"'"' "$unpacked/LICENSE.txt")" = "$(wc -l <"$root/LICENSE")" ]'
rm -rf "$work/zipwatch/Temp"
write_settings "$unpacked/Settings.ini" Debug=1 "Folder 1=$(windows_path "$work/zipwatch")" \
  "Shell 1=$(windows_path "$record_start") $(windows_path "$record") from-zip"
# Wine answers the registration for restart with a trace line of its own
# (its Restart Manager does nothing with it); the trace shows what start-up
# asked for.
WINEDEBUG=-all,fixme+process "$wine_run" --headless --timeout 300 "$unpacked/Quillbeck.exe" \
  </dev/null >/dev/null 2>"$work/first.trace" &
check "the zip's exe starts and makes the watched folder's Temp" wait_for 90 test -d "$work/zipwatch/Temp"
check "start-up registers for restart, no command line, not after a reboot (RESTART_NO_REBOOT)" \
  wait_for 10 grep -qF 'RegisterApplicationRestart ((null),8)' "$work/first.trace"
WINEDEBUG=-all,fixme+process "$wine_run" --headless --timeout 60 "$unpacked/Quillbeck.exe" \
  </dev/null >/dev/null 2>"$work/second.trace"
status=$?
check "a second copy ends at once (status $status) without registering" eval \
  '[ "$status" -eq 0 ] && ! grep -q RegisterApplicationRestart "$work/second.trace"'
printf 'zipped' >"$work/zipwatch/two.gdt"
check "and picks up a file, starting the command" eval \
  'wait_for 30 count_is "$record" from-zip 1 && file_is "$work/zipwatch/Temp/two.gdt" zipped'
check "its Logs folder is beside it" wait_for_line 10 "$unpacked/Logs/Debug.log" two.gdt
"$wineserver" -k >/dev/null 2>&1
wait 2>/dev/null

finish
