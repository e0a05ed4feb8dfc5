#!/usr/bin/env bash
# The settings texts inside the shipped module are the code page 932 form of
# their readable UTF-8 copies, each whole and NUL-terminated (file lines with
# CR LF), as the cross compiler's -fexec-charset must have made them.
set -euo pipefail
fsk="$1"
texts="$2"
hex() { od -An -v -tx1 | tr -s ' \n' '  '; }
module=$(hex <"$fsk")
fail=0
count=0
while IFS=$'\t' read -r name text; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  [[ "$name" == *_line ]] && text="${text%\\n}\\r\\n"
  want="$(printf '%b' "$text" | iconv -f UTF-8 -t CP932 | hex)00 "
  grep -qF -- "$want" <<<"$module" || { echo "$name: not found in code page 932"; fail=1; }
  count=$((count + 1))
done <"$texts"
[ "$count" = 7 ] || { echo "read $count texts, wanted 7"; fail=1; }
[ $fail -eq 0 ] && echo "$count texts found in code page 932"
exit $fail
