#!/bin/sh
# example_same_bytes.sh FILE REFERENCE_WAVHZ FREQUENCY_HZ LEVEL SECONDS COMMAND [ARGUMENT...]
# Runs an example program (COMMAND, through Wine) in the current folder and
# passes only when it succeeds and the FILE it writes holds the bytes that
# REFERENCE_WAVHZ, the build machine's wavhz, writes for the same tone.
# Status 77 (the runner cannot run this target's programs here) is passed
# on: a skip.
file=$1 reference=$2 frequency=$3 level=$4 seconds=$5
shift 5
rm -f "$file" "expected-$file"
"$@"
status=$?
[ "$status" -eq 77 ] && exit 77
if [ "$status" -ne 0 ]; then
  echo "example_same_bytes: exit status $status" >&2
  exit 1
fi
"$reference" "expected-$file" "$frequency" "$level" "$seconds" >/dev/null || exit 1
cmp "expected-$file" "$file" && echo "$file: the same bytes as wavhz $frequency $level $seconds"
