#!/usr/bin/env bash
# Writes each settings text of the UTF-8 list (name, tab, text with \n for a
# line break) as <folder>/<name>.sjis in code page 932 and <folder>/<name>.utf16
# in UTF-16 (little-endian, as Windows holds it). The file lines go without
# their final line break, which the tests add as CR LF.
set -euo pipefail
texts="$1"
folder="$2"
mkdir -p "$folder"
while IFS=$'\t' read -r name text; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  [[ "$name" == *_line ]] && text="${text%\\n}"
  printf '%b' "$text" | iconv -f UTF-8 -t CP932 >"$folder/$name.sjis"
  printf '%b' "$text" | iconv -f UTF-8 -t UTF-16LE >"$folder/$name.utf16"
done <"$texts"
