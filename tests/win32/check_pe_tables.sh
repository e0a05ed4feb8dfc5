#!/usr/bin/env bash
# The module's face: exactly five undecorated exports with fixed ordinals under
# the module name TARVOKEY.FSK. (Its imports are check_imports.py's.)
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

[ $fail -eq 0 ] && echo "exports: $exports"
exit $fail
