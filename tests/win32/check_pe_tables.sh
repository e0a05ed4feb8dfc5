#!/usr/bin/env bash
# The module's face: exactly five undecorated exports with fixed ordinals under
# the module name TARVOKEY.FSK, and imports from system DLLs only.
set -euo pipefail
fsk="$1"
dump=$("${OBJDUMP:-i686-w64-mingw32-objdump}" -p "$fsk")
fail=0

grep -qE '^Name[[:space:]].*[[:space:]]TARVOKEY\.FSK$' <<<"$dump" || { echo "module name is not TARVOKEY.FSK"; fail=1; }
base=$(sed -nE 's/^Ordinal Base[[:space:]]+([0-9]+)$/\1/p' <<<"$dump")
count=$(awk '/^Export Address Table -- Ordinal Base/{f=1;next} f&&NF==0{exit} f{n++} END{print n+0}' <<<"$dump")
[ "$count" = 5 ] || { echo "export address table has $count entries"; fail=1; }

# Each name with its ordinal (the table holds ordinal minus base).
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/{f=1;next} f&&NF==0{exit} f{print}' <<<"$dump" |
  sed -E 's/^[[:space:]]*\[[[:space:]]*([0-9]+)\][[:space:]]+(.*)$/\1 \2/' |
  while read -r index name; do echo "$((index + base)) $name"; done | tr '\n' ',')
want='1 extfskClose,2 extfskIsTxBusy,3 extfskOpen,4 extfskPutChar,5 extfskSetPTT,'
[ "$exports" = "$want" ] || { echo "exports: $exports"; echo "wanted:  $want"; fail=1; }

allowed='^(KERNEL32|USER32|WINMM|HID|SETUPAPI|msvcrt)\.dll$'
while read -r dll; do
  grep -qiE "$allowed" <<<"$dll" || { echo "non-system import: $dll"; fail=1; }
done < <(sed -nE 's/^[[:space:]]*DLL Name: (.*)$/\1/p' <<<"$dump")
for dll in KERNEL32 USER32 WINMM HID SETUPAPI; do
  grep -qiE "DLL Name: $dll\.dll" <<<"$dump" || { echo "no import of $dll.dll"; fail=1; }
done

# The prompts need these, all there since XP. What came later (the power
# throttling calls of Windows 8) is looked up at run time: imported, it would
# keep the module from loading on XP and 7.
imported() { grep -qE "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$1\$" <<<"$dump"; }
for f in MessageBoxA MessageBoxW GetACP MultiByteToWideChar; do
  imported "$f" || { echo "no import of $f"; fail=1; }
done
for f in SetProcessInformation GetProcessInformation; do
  ! imported "$f" || { echo "$f is imported: no load before Windows 8"; fail=1; }
done

[ $fail -eq 0 ] && echo "exports: $exports imports: system DLLs only"
exit $fail
