#!/bin/sh
# run_example.sh PROGRAM EXPECTED: runs an example host in the current folder and compares
# what it prints (standard output and error together) with the file EXPECTED.
program=$1 expected=$2
actual=$("$program" 2>&1)
status=$?
if [ "$actual" != "$(cat "$expected")" ]; then
  echo "FAIL: $program printed something else (exit status $status):" >&2
  printf '%s\n' "$actual" | diff -u "$expected" - >&2
  exit 1
fi
[ $status -eq 0 ] || { echo "FAIL: $program exited with status $status" >&2; exit 1; }
