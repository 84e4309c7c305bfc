#!/usr/bin/env bash
# check_tone_table.sh TONE_QUALITY
# The error table in the README and in wavhz(1) is the one TONE_QUALITY
# (bench/tone_quality.cpp) prints: the same rows, the same numbers.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
measured=$("$1" | grep '^| [0-9]' | sed 's/-/−/g')
readme=$(sed -n '/^| from second | 100 Hz/,/^$/p' "$source_dir/README.md" | grep '^| [0-9]')
man=$(sed -n '/^\.TS/,/^\.TE/p' "$source_dir/man/wavhz.1.in" | grep '^[0-9]' \
      | sed 's/\\-/−/g; s/\t/ | /g; s/^/| /; s/$/ |/')
for document in readme man; do
  if [ "${!document}" != "$measured" ]; then
    echo "the $document's error table is not what tone_quality measures:" >&2
    diff <(echo "${!document}") <(echo "$measured") >&2 || true
    exit 1
  fi
done
echo "the README's and wavhz(1)'s error tables are tone_quality's"
