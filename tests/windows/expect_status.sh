#!/bin/sh
# expect_status.sh STATUS PATTERN COMMAND [ARGUMENT...]
# Runs COMMAND and passes only when it exits with STATUS and its output
# (standard output and error together) matches the extended regular
# expression PATTERN: a crash, or a runner that fails to start the program,
# is never taken for the failure a test expects. Status 77 (the runner
# cannot run this target's programs here) is passed on: a skip.
expected=$1 pattern=$2
shift 2
output=$("$@" 2>&1)
status=$?
printf '%s\n' "$output"
[ "$status" -eq 77 ] && exit 77
if [ "$status" -ne "$expected" ]; then
  echo "expect_status: exit status $status, expected $expected" >&2
  exit 1
fi
if ! printf '%s\n' "$output" | grep -Eq -- "$pattern"; then
  echo "expect_status: the output does not match '$pattern'" >&2
  exit 1
fi
