#!/usr/bin/env bash
# tarvokey-check.exe as a file: a 32-bit console program carrying its
# manifest. (Its imports are check_imports.py's; its runs, scenarios of
# e2e_check.)
#   check_program.sh <tarvokey-check.exe>
set -uo pipefail
exe="$1"
fail=0
dump=$("${OBJDUMP:-i686-w64-mingw32-objdump}" -p "$exe")
grep -qE '^Magic[[:space:]]+010b' <<<"$dump" || { echo "not a 32-bit program"; fail=1; }
grep -qE '^Subsystem[[:space:]].*\(Windows CUI\)' <<<"$dump" || { echo "not a console program"; fail=1; }
manifest=$(python3 "$(dirname "$0")/check_manifest.py" "$exe") || { echo "$manifest"; fail=1; }
[ $fail -eq 0 ] && echo "tarvokey-check.exe: 32-bit console program, $manifest"
exit $fail
