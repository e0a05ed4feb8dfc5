#!/usr/bin/env bash
# Converts a UTF-8 text (without its final line break) to the code page 932
# bytes the module shows and writes.
set -euo pipefail
printf '%s' "$(cat "$1")" | iconv -f UTF-8 -t CP932 >"$2"
