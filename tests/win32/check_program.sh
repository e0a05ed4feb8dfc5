#!/usr/bin/env bash
# tarvokey-check.exe itself: a 32-bit console program that imports system DLLs
# only and carries its manifest; and under Wine, which has no box and no
# program with the plug-in open, its help, a bad argument, the no-box verdict,
# --status, and --watch ended by Enter, each with its exit status; redirected,
# in UTF-8 in either language. On Windows itself (no runner) the same runs
# meet its real HID classes, where no box is plugged in.
#   check_program.sh <tarvokey-check.exe> [<runner: scripts/wine-run>]
set -uo pipefail
exe="$1"
runner=("${@:2}")
# English unless --lang says otherwise: Wine takes the user's language from
# the locale (Windows from its display language).
export LC_ALL=C.UTF-8
dump=$("${OBJDUMP:-i686-w64-mingw32-objdump}" -p "$exe")
fail=0

grep -qE '^Magic[[:space:]]+010b' <<<"$dump" || { echo "not a 32-bit program"; fail=1; }
grep -qE '^Subsystem[[:space:]].*\(Windows CUI\)' <<<"$dump" || { echo "not a console program"; fail=1; }
allowed='^(KERNEL32|USER32|WINMM|HID|SETUPAPI|msvcrt)\.dll$'
while read -r dll; do
  grep -qiE "$allowed" <<<"$dll" || { echo "non-system import: $dll"; fail=1; }
done < <(sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p' <<<"$dump")
manifest=$(python3 "$(dirname "$0")/check_manifest.py" "$exe") || { echo "$manifest"; fail=1; }

# Expected exit status, a line the output must hold, then the arguments; the
# input is $input (nothing unless set).
input=""
expect() {
  local want="$1" line="$2"
  shift 2
  local out status
  out=$(printf '%s' "$input" | "${runner[@]}" "$exe" "$@" 2>&1)
  status=$?
  if [ "$status" != "$want" ] || ! grep -qF -- "$line" <<<"$out"; then
    printf 'tarvokey-check %s: exit %s (wanted %s), output:\n%s\n' "$*" "$status" "$want" "$out"
    fail=1
  fi
}
expect 0 "Usage: tarvokey-check [--setup]" --help
expect 3 'tarvokey-check: unknown argument "--nonsense" (see --help).' --nonsense
expect 1 "No box found: is it plugged in?"
expect 1 "ボックスが見つかりません: 差し込まれていますか?" --lang ja
expect 1 "[]" --status --json
expect 1 "No program has tarvokey.fsk open." --status
input=$'\n' expect 1 "As the watch ended:" --watch

[ $fail -eq 0 ] && echo "tarvokey-check.exe: console program, system DLLs only, $manifest, exit statuses as documented, UTF-8 when redirected"
exit $fail
