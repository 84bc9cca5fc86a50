#!/bin/bash
# Runs the velq tool under a sweep of address-space limits (ulimit -v), with scripts that
# take memory until the system refuses it, at every step of the tool's life: start-up,
# compilation, the run, the error report. Each run must end as a run does: success, or
# a message and exit status 1 (error 29, or "out of memory" from the tool itself); never
# a signal, which is what an unchecked allocation or an uncaught exception ends with. An
# error 29 keeps its call frames (memory is kept aside for the report).
#
# Usage: ulimit_test.sh VELQ WORKDIR
set -u
velq=$1
work=$2
mkdir -p "$work"

# Scripts: values without end, one text without end, nested arrays, a deep call chain
# whose report lists its frames.
cat >"$work/values.velq" <<'EOF'
sub main() {
  array a;
  i = 0;
  while (1) { a[i] = "value " . i; i++; }
}
EOF
cat >"$work/text.velq" <<'EOF'
sub main() {
  s = "x";
  while (1) s = s . s;
}
EOF
cat >"$work/nested.velq" <<'EOF'
sub main() {
  array a;
  array b;
  a[0] = "x";
  while (1) { b[0] = a; b[1] = a; a = b; }
}
EOF
cat >"$work/frames.velq" <<'EOF'
sub grow(n) {
  array a;
  i = 0;
  while (i < n) { a[i] = "value " . i; i++; }
  return grow(n * 2);
}
sub main() { return grow(1000); }
EOF

failures=0
runs=0
# Address-space limits in KiB, from below what the tool needs to start up to well above.
for limit in 8192 12288 16384 20480 24576 32768 49152 65536 98304 131072 262144; do
  for script in values text nested frames; do
    runs=$((runs + 1))
    (ulimit -v "$limit"; exec "$velq" "$work/$script.velq") >"$work/out" 2>"$work/err"
    status=$?
    report=$(head -c 300 "$work/err")
    if [ "$status" -ge 128 ]; then
      echo "FAIL ulimit -v $limit, $script: ended by signal $((status - 128)): $report"
      failures=$((failures + 1))
    elif [ "$status" -eq 127 ] && grep -q "error while loading shared libraries" "$work/err"; then
      : # the system's loader could not start the tool at all
    elif [ "$status" -ne 0 ] && ! grep -q "Error 29\|out of memory\|memory exhausted" "$work/err"; then
      echo "FAIL ulimit -v $limit, $script: exit $status without an out-of-memory report: $report"
      failures=$((failures + 1))
    elif grep -q "Error 29" "$work/err" && ! grep -q "^  in " "$work/err"; then
      echo "FAIL ulimit -v $limit, $script: error 29 reported without its call frames: $report"
      failures=$((failures + 1))
    fi
  done
done
echo "$runs runs under ulimit -v, $failures failed"
[ "$failures" -eq 0 ]
