#!/usr/bin/env bash
# Quillbeck.exe carries its resources and needs no DLL of its own: the icon
# group, the version strings, the manifest (common controls 6, per-monitor
# DPI awareness v2, asInvoker), the event log's message table, and imports
# from system DLLs only.
#   resources_test.sh <Quillbeck.exe>
set -uo pipefail
exe=$1
windres=$(command -v x86_64-w64-mingw32-windres) || { echo "no windres" >&2; exit 1; }
objdump=$(command -v x86_64-w64-mingw32-objdump) || { echo "no objdump" >&2; exit 1; }
source "$(dirname "$0")/../support/checks.sh"
rc=$("$windres" -i "$exe" -O rc 2>/dev/null)
text=$(strings -n 6 "$exe")
check "the icon is the first icon group" grep -q '^1 14 /\* RT_GROUP_ICON \*/' <<<"$rc"
for value in '"CompanyName", "Quillbeck"' '"ProductName", "Quillbeck"' \
  '"FileVersion", "1.0.0"' '"OriginalFilename", "Quillbeck.exe"'; do
  check "version $value" grep -qF "$value" <<<"$rc"
done
check "a manifest" grep -q '^1 24 /\* RT_MANIFEST \*/' <<<"$rc"
check "the event log's message table" grep -q '^1 11 /\* RT_MESSAGETABLE \*/' <<<"$rc"
check "visual styles: common controls 6" grep -q 'Microsoft.Windows.Common-Controls' <<<"$text"
check "per-monitor DPI awareness v2" grep -q 'PerMonitorV2' <<<"$text"
check "asInvoker" grep -q 'level="asInvoker"' <<<"$text"
imports=$("$objdump" -p "$exe" | awk '/DLL Name:/ { print toupper($3) }' | sort -u | tr '\n' ' ')
check "imports only system DLLs ($imports)" test \
  "$(tr ' ' '\n' <<<"$imports" | grep -v -E '^(KERNEL32|USER32|GDI32|SHELL32|COMCTL32|MSVCRT|ADVAPI32)\.DLL$' | grep -c .)" = 0
finish
