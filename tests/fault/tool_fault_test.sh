#!/bin/bash
# Makes each allocation of the velq tool's process fail in turn (through the preloaded
# fail_allocation library), over the tool's whole life: option parsing, file loading,
# module loading, compilation, the run with its arguments, the error report and the
# REPL's start. Every run must end without a signal, and a run that fails must say why
# on standard error.
#
# Usage: tool_fault_test.sh VELQ FAIL_ALLOCATION_LIBRARY WORKDIR
set -u
velq=$1
preload=$2
work=$3
mkdir -p "$work"
cd "$work" || exit 1

cat >helper.velq <<'SCRIPT'
sub twice(x) { return x . x; }
SCRIPT
cat >runtime_error.velq <<'SCRIPT'
use helper;
sub inner(x) {
  array a;
  a[0] = twice(x) . " and " . $1;
  return a[0] / 0;
}
sub main() { return inner(Format("%d", 3)); }
SCRIPT
cat >compile_error.velq <<'SCRIPT'
sub main() {
  x = (1 + ;
}
SCRIPT
printf 'x = 3\nx * 2\nSplit("a,b", ",")\n' >repl_input

# Each case: the tool's arguments, then, after --, standard input (a file, or nothing).
cases=(
  "-r -m helper.velq runtime_error.velq one two -- /dev/null"
  "--timeout 5 --max-memory 16M --max-steps 100000 -r -e 1+2*3 -- /dev/null"
  "compile_error.velq -- /dev/null"
  "no_such_file.velq -- /dev/null"
  "-i -m helper.velq -- repl_input"
)

failures=0
runs=0
for entry in "${cases[@]}"; do
  arguments=${entry% -- *}
  input=${entry##* -- }
  n=1
  while [ "$n" -le 20000 ]; do
    rm -f report
    # shellcheck disable=SC2086
    VELQ_FAIL_ALLOCATION=$n VELQ_FAIL_REPORT=report LD_PRELOAD=$preload \
      "$velq" $arguments <"$input" >out 2>err
    status=$?
    runs=$((runs + 1))
    if [ "$status" -ge 128 ]; then
      echo "FAIL velq $arguments, allocation $n failing: signal $((status - 128)): $(head -c 300 err)"
      failures=$((failures + 1))
    elif [ "$status" -ne 0 ] && [ ! -s err ]; then
      echo "FAIL velq $arguments, allocation $n failing: exit $status without a message"
      failures=$((failures + 1))
    fi
    # Past the last allocation of the case. (A run ended by a signal leaves no report;
    # the sweep goes on past it.)
    if grep -q "^not reached" report 2>/dev/null; then break; fi
    n=$((n + 1))
  done
  echo "velq $arguments: allocations 1 to $((n - 1)) failed in turn"
done
echo "$runs runs, $failures failed"
[ "$failures" -eq 0 ]
