#!/usr/bin/env bash
# A host's use of a value after deleting it is seen by the memory checker: the engine's
# object pools step aside for it.
#   use_after_free_test.sh asan PROGRAM
#       a sanitizer build: AddressSanitizer reports each use as a heap-use-after-free
#   use_after_free_test.sh valgrind PROGRAM
#       any other build: valgrind reports each use when VELQ_NO_POOLS=1 is set
# PROGRAM is use_after_free.cpp, which reads a value it made, or a run's result it took,
# after deleting it.
set -uo pipefail
mode=$1 program=$2
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for kind in value result; do
  case $mode in
    asan)
      output=$(ASAN_OPTIONS=detect_leaks=0 "$program" "$kind" 2>&1)
      status=$?
      [ $status -ne 0 ] && [[ $output == *heap-use-after-free* ]] ||
        fail "$kind: AddressSanitizer did not report the use after free (status $status): $output"
      ;;
    valgrind)
      output=$(VELQ_NO_POOLS=1 valgrind -q --error-exitcode=99 "$program" "$kind" 2>&1)
      status=$?
      [ $status -eq 99 ] && [[ $output == *"Invalid read"* ]] ||
        fail "$kind: valgrind with VELQ_NO_POOLS=1 did not report the use after free (status $status): $output"
      # With the pools the block is kept, and valgrind sees nothing: the variable is what
      # made the difference above.
      output=$(valgrind -q --error-exitcode=99 "$program" "$kind" 2>&1)
      status=$?
      [ $status -eq 0 ] ||
        fail "$kind: the pooled run should read a kept block unnoticed (status $status): $output"
      ;;
    *)
      echo "unknown mode $mode" >&2
      exit 2
      ;;
  esac
done
[ $failures -eq 0 ] && echo "every use after free was reported ($mode)"
[ $failures -eq 0 ]
