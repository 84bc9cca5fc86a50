#!/usr/bin/env bash
# Tests of the velq tool: exit statuses, script sources, options and arguments.
#   cli_test.sh VELQ VERSION WORK_DIR
set -uo pipefail
velq=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
version=$2
work=$3
rm -rf "$work" && mkdir -p "$work/fixtures" "$work/elsewhere" || exit 1
cd "$work/fixtures" || exit 1

# Fixture scripts, one per situation.
printf '%s\n' 'sub main() { println "hello"; }' >hello.velq
printf '%s\n' 'sub main(a, b) {' '  println a + b;' '  println typeof(a) . " " . typeof($3);' \
  '  println $3;' '}' >sum.velq
printf '%s\n' 'sub main() { println $1 . "," . $2; }' >echo.velq
printf '%s\n' 'sub main() {' '  println "before";' '  x = "a" - 1;' '}' >fails.velq
printf '%s\n' '' '' 'sub main() { x = 1 }' >syntax.velq
printf '%s\n' 'sub twice(x) { return x * 2; }' >util.velq
printf '%s\n' 'sub shout(s) { return upper(s) . "!"; }' >Loud.text
printf '%s\n' 'sub broken( {' >broken.velq
printf '%s\n' 'use util; use loud;' 'sub main() { println twice(21); println shout("hi"); }' \
  >uses.velq
printf '%s\n' 'use util; sub main() { println twice(1); }' >uses_util.velq
printf 'sub main() {\0println 1;\0}\n' >nul.velq
printf '%s\n' 'sub main() { array a; return a; }' >array.velq
printf '%s\n' 'sub main() { println "odd"; }' >-odd.velq
printf '%s\n' 'sub f() { _exit("early"); println "never"; } sub main() { f(); println "never"; }' \
  >exit.velq
printf '%s\n' 'sub main() { trace(1, "one"); println "out"; trace(7, 42); }' >trace.velq
mkdir -p adir
cp util.velq "$work/elsewhere/other.velq"
fx=$work/fixtures

failures=0
cases=0

# check NAME STATUS STDOUT STDERR [ARG]...
#   Runs velq with the ARGs (standard input from $STDIN when it is set, else empty) and
#   compares the exit status, the whole standard output, and standard error, which may
#   be a glob pattern. Runs in $RUN_IN when it is set.
check() {
  local name=$1 status=$2 out=$3 err=$4
  shift 4
  cases=$((cases + 1))
  local got_out got_err got_status
  printf "%s" "${STDIN:-}" >"$work/stdin"
  got_out=$(
    cd "${RUN_IN:-$fx}" && "$velq" "$@" <"$work/stdin" 2>"$work/stderr"
    echo "status=$?"
  )
  got_status=${got_out##*status=}
  got_out=${got_out%status=*}
  got_err=$(cat "$work/stderr")
  local problems=()
  [ "$got_status" = "$status" ] || problems+=("exit status: expected $status, got $got_status")
  [ "$got_out" = "$out" ] || problems+=("stdout: expected [$out], got [$got_out]")
  # shellcheck disable=SC2053
  [[ $got_err == "$err" || $got_err == $err ]] || problems+=("stderr: expected [$err], got [$got_err]")
  if [ ${#problems[@]} -gt 0 ]; then
    failures=$((failures + 1))
    echo "FAIL $name (velq $*)"
    printf '  %s\n' "${problems[@]}"
  fi
}
nl=$'\n'

# Sources of the script: a file, standard input, -e TEXT.
check "file" 0 "hello$nl" "" hello.velq
check "file by path from elsewhere" 0 "hello$nl" "" "$fx/hello.velq"
STDIN='sub main() { println 6 * 7; }' check "stdin" 0 "42$nl" "" -
STDIN='$1 . $2' check "stdin with args" 0 "ab$nl" "" -r - a b
check "-e expression" 0 "3$nl" "" -r -e '1 + 2'
check "-e module" 0 "x$nl" "" -e 'sub main() { println "x"; }'
check "-e value attached" 0 "9$nl" "" -r '-e4 + 5'
check "zero bytes read as spaces" 0 "1$nl" "" nul.velq
check "-- before a file starting with -" 0 "odd$nl" "" -- -odd.velq

# Arguments: $1, $2, ... built from their text, so numbers arrive as numbers.
check "args" 0 "5${nl}int32 string${nl}x$nl" "" sum.velq 2 3 x
check "args after FILE are never options" 0 "-d,-5$nl" "" echo.velq -d -5
check "args after -e TEXT" 0 "42$nl" "" -r -e '$1 * $2' 6 7
check "missing args are null" 0 "null$nl" "" -r -e "typeof(\$1)"
check "real argument" 0 "3.000000$nl" "" -r -e '$1 * 2' 1.5

# -r: the result's text form, or the type name of a value without one.
check "-r int" 0 "3$nl" "" -r -e '1 + 2'
check "-r real" 0 "3.500000$nl" "" --result -e '7 / 2'
check "-r string" 0 "ab$nl" "" -r -e '"a" . "b"'
check "-r null" 0 "null$nl" "" -r -e 'null'
check "-r object" 0 "object$nl" "" -r -e 'gmtime(0)'
check "-r array" 0 "array$nl" "" -r array.velq
check "-r function without return" 0 "hello${nl}null$nl" "" -r hello.velq
check "-r after _exit deep in a call" 0 "early$nl" "" -r exit.velq
check "no -r, no result written" 0 "" "" -e '1 + 2'
check "-r nothing after a failed run" 1 "before$nl" \
  "Error 4 in line 3: Bad arithmetic conversion" -r fails.velq

# -t: trace lines on standard error; without -t they are dropped.
check "-t" 0 "out$nl" "trace[1]: one${nl}trace[7]: 42" -t trace.velq
check "no -t" 0 "out$nl" "" trace.velq
check "-rt clustered" 0 "null$nl" "trace[2]: x" -rt -e 'trace(2, "x")'
check "--trace" 0 "" "trace[0]: y" --trace -e 'trace(0, "y")'

# -d: the listing only; nothing runs.
check "-d" 0 "0000  PUSH    \"1\"${nl}0001  PUSH    \"2\"${nl}0002  ADD     ${nl}0003  RET     $nl" \
  "" -d -e '1 + 2'
check "--dump does not run" 0 "0000  PUSH    \"x\"${nl}0001  PRINT   ${nl}0002  NRET    $nl" "" \
  --dump -e 'sub main() { print "x"; }'
check "-d of a compile error" 2 "" "-e: Error in line 1: syntax error, unexpected \$end" -d -e ''

# -m: modules in a library under the file's base name; the script's folder is not needed.
RUN_IN=$work/elsewhere check "-m" 0 "42${nl}HI!$nl" "" -m "$fx/util.velq" -m "$fx/Loud.text" \
  "$fx/uses.velq"
RUN_IN=$work/elsewhere check "no -m: module missing" 1 "" \
  "Error 16 in line 0: Requested module not found or cannot be loaded" "$fx/uses_util.velq"
RUN_IN=$work/elsewhere check "-m attached" 0 "2$nl" "" "-m$fx/util.velq" "$fx/uses_util.velq"
check "-m that does not compile" 2 "" "$fx/broken.velq: Error in line 1: *" \
  -m "$fx/broken.velq" hello.velq
check "-m missing file" 66 "" "velq: cannot read $fx/none.velq*" -m "$fx/none.velq" hello.velq
check "-m same base name twice" 64 "" "velq: -m *other.velq: a module named 'other' is given already*" \
  -m "$work/elsewhere/other.velq" -m "$work/elsewhere/other.velq" hello.velq

# Exit status 1: the run failed; output before the error is kept.
check "runtime error" 1 "before$nl" "Error 4 in line 3: Bad arithmetic conversion" fails.velq
check "runtime error in -e" 1 "" "Error 11 in line 1: Function not found" -e 'nosuch(1)'
check "no main" 1 "" "Error 7 in line 0: main() function not presented" -e 'sub f() { }'

# Exit status 2: compilation failed; FILE, ": " and the compiler's message.
check "syntax error" 2 "" "syntax.velq: Error in line 3: syntax error, unexpected '}'" syntax.velq
check "syntax error from stdin" 2 "" "-: Error in line 1: syntax error, unexpected \$end" -
check "lexical error" 2 "" "-e: Error in line 1: Invalid character '#' (0x23)" -e '1 # 2'

# Exit status 64: the command line is wrong.
check "nothing given" 64 "" "velq: no script given*" 
check "only options" 64 "" "velq: no script given*" -r -t
check "unknown short option" 64 "" "velq: invalid option -- 'x'*" -x hello.velq
check "unknown long option" 64 "" "velq: unrecognized option '--bogus'*" --bogus hello.velq
check "-m without value" 64 "" "velq: option requires an argument -- 'm'*" -m
check "-e without value" 64 "" "velq: option requires an argument -- 'e'*" -r -e

# Exit status 66: the script cannot be read.
check "missing file" 66 "" "velq: cannot read none.velq*" none.velq
check "directory" 66 "" "velq: cannot read adir*" adir

# --help and --version.
check "--version" 0 "velq $version$nl" "" --version
check "--version wins over a script" 0 "velq $version$nl" "" --version hello.velq
help=$("$velq" --help)
for word in "Usage: velq" "-e TEXT" "-m FILE" "--dump" "--result" "--trace" "--version" \
  "Exit status" " 0 " " 1 " " 2 " " 64 " " 66 " "Example"; do
  cases=$((cases + 1))
  if [[ $help != *"$word"* ]]; then
    failures=$((failures + 1))
    echo "FAIL --help does not mention '$word'"
  fi
done
check "-h" 0 "$help$nl" "" -h

# Output that cannot be written is reported, not taken for success.
if [ -w /dev/full ]; then
  cases=$((cases + 1))
  "$velq" hello.velq >/dev/full 2>"$work/stderr"
  status=$?
  if [ $status -ne 1 ] || ! grep -q "cannot write to standard output" "$work/stderr"; then
    failures=$((failures + 1))
    echo "FAIL write error: status $status, stderr [$(cat "$work/stderr")]"
  fi
fi

echo "$cases cases, $failures failed"
[ $failures -eq 0 ]
