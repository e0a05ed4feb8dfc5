#!/usr/bin/env bash
# tarvokey-check.exe itself: a 32-bit console program that imports system DLLs
# only and carries its manifest; and where no box is plugged in and no program
# has the plug-in open (under Wine, or on a Windows runner), its help, a bad
# argument, the no-box verdict, --status, and --watch ended by Enter, each with
# its exit status, and a line of tarvokey.ini it reads as the plug-in does.
# Redirected with no console (as here), its text is in the ANSI code page:
# --status --json stays UTF-8.
#   check_program.sh <tarvokey-check.exe> [<runner: scripts/wine-run>]
#   check_program.sh --cp932 <tarvokey-check.exe> [<runner>]
# With --cp932 only the Japanese verdict, in code page 932 as `type` and
# Notepad read it on a Japanese Windows; Wine takes that code page from the
# locale, a Windows from its system locale (the test's label says so).
set -uo pipefail
japanese=0
[ "${1:-}" = "--cp932" ] && { japanese=1; shift; }
exe="$1"
runner=("${@:2}")
# English unless --lang says otherwise: Wine takes the user's language from
# the locale (Windows from its display language).
export LC_ALL=C.UTF-8
fail=0

# Expected exit status, a line the output must hold, then the arguments; the
# input is $input (nothing unless set). With $code_page set, the output is in
# that code page and holds the line only once read in it.
input=""
code_page=""
expect() {
  local want="$1" line="$2"
  shift 2
  local out status raw
  raw=$(mktemp)
  printf '%s' "$input" | "${runner[@]}" "$exe" "$@" >"$raw" 2>&1
  status=$?
  if [ -n "$code_page" ]; then
    grep -qF -- "$line" "$raw" && { echo "tarvokey-check $*: UTF-8, not code page $code_page"; fail=1; }
    out=$(iconv -f "CP$code_page" -t UTF-8 "$raw" 2>&1)
  else
    out=$(cat "$raw")
  fi
  rm -f "$raw"
  if [ "$status" != "$want" ] || ! grep -qF -- "$line" <<<"$out"; then
    printf 'tarvokey-check %s: exit %s (wanted %s), output:\n%s\n' "$*" "$status" "$want" "$out"
    fail=1
  fi
}

if [ $japanese -eq 1 ]; then
  LC_ALL=ja_JP.UTF-8 code_page=932 expect 1 "ボックスが見つかりません: USB に接続されていますか?" --lang ja
  [ $fail -eq 0 ] && echo "tarvokey-check.exe: redirected Japanese text in code page 932"
  exit $fail
fi

dump=$("${OBJDUMP:-i686-w64-mingw32-objdump}" -p "$exe")
grep -qE '^Magic[[:space:]]+010b' <<<"$dump" || { echo "not a 32-bit program"; fail=1; }
grep -qE '^Subsystem[[:space:]].*\(Windows CUI\)' <<<"$dump" || { echo "not a console program"; fail=1; }
allowed='^(KERNEL32|USER32|WINMM|HID|SETUPAPI|msvcrt)\.dll$'
while read -r dll; do
  grep -qiE "$allowed" <<<"$dll" || { echo "non-system import: $dll"; fail=1; }
done < <(sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p' <<<"$dump")
manifest=$(python3 "$(dirname "$0")/check_manifest.py" "$exe") || { echo "$manifest"; fail=1; }

expect 0 "Usage: tarvokey-check [--setup]" --help
expect 3 'tarvokey-check: unknown argument "--nonsense" (see --help).' --nonsense
expect 1 "No box found: is it plugged in?"
expect 1 "[]" --status --json
expect 1 "No program has tarvokey.fsk open." --status
# Code page 1252 has no arrow: it goes as the ASCII that stands for it.
expect 1 "(Option -> Setup MMTTY..., TX tab)" --status --lang en
input=$'\n' expect 1 "As the watch ended:" --watch
# The IME's full-width space (Shift_JIS 81 40) before "=" in tarvokey.ini: the
# advice is to delete it, for a half-width space there is no better.
folder=$(mktemp -d)
printf 'FskRev\x81\x40=1\r\nFskPin=1\r\n' >"$folder/tarvokey.ini"
pushd "$folder" >/dev/null
expect 1 "a full-width space, as the Japanese IME types it: delete it"
popd >/dev/null
rm -rf "$folder"

[ $fail -eq 0 ] && echo "tarvokey-check.exe: console program, system DLLs only, $manifest, exit statuses as documented, redirected text in the ANSI code page"
exit $fail
