#!/usr/bin/env bash
# Builds examples/c against an installed velq and runs each program from examples/c, where
# its scripts are; their output and exit statuses must match EXPECTED.
#   c_examples_test.sh SOURCE_DIR PREFIX WORK_DIR EXPECTED [CFLAGS]
set -euo pipefail
source_dir=$1 prefix=$2 work=$3 expected=$4 flags=${5:-}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
cmake -S "$source_dir/examples/c" -B "$work" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="-Wall -Wextra -Wno-unused-parameter -pedantic -Werror $flags" \
  -DCMAKE_CXX_FLAGS="$flags" >"$work/configure.log" ||
  { cat "$work/configure.log"; fail "examples/c does not configure"; }
cmake --build "$work" >"$work/build.log" || { cat "$work/build.log"; fail "examples/c does not build"; }

# run NAME ARGUMENT...: a heading, the program's output and its exit status.
run() {
  local status=0
  echo "== $*"
  env -u LD_LIBRARY_PATH "$work/$1" "${@:2}" 2>&1 || status=$?
  echo "exit $status"
}

cd "$source_dir/examples/c"
{
  run run_file greet.velq world
  run run_file missing.velq
  run functions
  run call_by_name
  run host_class
  run untrusted untrusted_loop.velq untrusted_module.velq untrusted_memory.velq untrusted_sum.velq
} >"$work/output.txt"
diff -u "$expected" "$work/output.txt" || fail "the C examples printed something else"
echo "examples/c built and ran"
