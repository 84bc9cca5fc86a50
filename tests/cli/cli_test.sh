#!/usr/bin/env bash
# Tests of the velq tool: exit statuses, script sources, options and arguments, and the
# command-line examples of SOURCE_DIR/examples run on inputs of their own.
#   cli_test.sh VELQ VERSION WORK_DIR SOURCE_DIR
set -uo pipefail
velq=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
version=$2
work=$3
examples=$(cd "$4/examples" && pwd)
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
printf '%s\n' '#!/usr/bin/env velq' 'sub main() {' '  x = "a" - 1;' '}' >shebang_error.velq
printf '\xEF\xBB\xBFsub main() { println "bom"; }\n' >bom.velq
printf '\xEF\xBB\xBF#!/usr/bin/env velq\nsub main() { println "bom and shebang"; }\n' >bom_shebang.velq
printf '%s\n' 'sub main() { n = 0; while (ReadLine() != null) n++; println n . " lines"; }' >count.velq
printf '%s\n' 'sub main() { println "checked only"; }' >prints.velq
printf '%s\n' 'use util;' 'sub triple(x) { return x * 3; }' 'sub main() { println "ran"; }' >funcs.velq
mkdir -p deep
printf '%s\n' '// A module whose error lies three calls deep.' 'sub level3(x) {' '  return x % 0;' '}' \
  'sub level2(x) { return level3(x) + 1; }' 'sub level1(x) { return level2(x) * 2; }' >deep/lib.velq
printf '%s\n' 'use lib;' 'sub main() {' '  println "start";' '  level1(5);' '}' >deep/main.velq
printf '%s\n' 'sub broken( {' >deep/bad.velq
printf '%s\n' 'use bad;' 'sub main() { }' >deep/uses_bad.velq
mkdir -p adir
cp util.velq "$work/elsewhere/other.velq"
fx=$work/fixtures

failures=0
cases=0
case_time_limit=${VELQ_CASE_TIME_LIMIT:-60}  # seconds; a run that takes longer fails with 124

# check NAME STATUS STDOUT STDERR [ARG]...
#   Runs velq with the ARGs (standard input from $STDIN when it is set, else empty) and
#   compares the exit status, the whole standard output, and standard error, which may
#   be a glob pattern. Runs in $RUN_IN when it is set, and stops velq after
#   $case_time_limit seconds (status 124).
check() {
  local name=$1 status=$2 out=$3 err=$4
  shift 4
  cases=$((cases + 1))
  local got_out got_err got_status
  printf "%s" "${STDIN:-}" >"$work/stdin"
  got_out=$(
    cd "${RUN_IN:-$fx}" && timeout -k 5 "$case_time_limit" "$velq" "$@" <"$work/stdin" 2>"$work/stderr"
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
check "-r after _exit deep in a call" 1 "early$nl" "" -r exit.velq
check "no -r, no result written" 0 "" "" -e '1 + 2'
check "-r nothing after a failed run" 1 "before$nl" \
  "fails.velq:3: Error 4 in line 3: Bad arithmetic conversion${nl}  in main (fails.velq:3)" -r fails.velq

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
check "-d of a compile error" 2 "" "-e:1: Error in line 1: syntax error, unexpected \$end" -d -e ''

# -m: modules in a library under the file's base name; the script's folder is not needed.
RUN_IN=$work/elsewhere check "-m" 0 "42${nl}HI!$nl" "" -m "$fx/util.velq" -m "$fx/Loud.text" \
  "$fx/uses.velq"
RUN_IN=$work/elsewhere check "no -m: module beside the script" 0 "2$nl" "" "$fx/uses_util.velq"
RUN_IN=$work/elsewhere check "module found nowhere" 1 "" \
  "-e: Error 16 in line 0: Requested module not found or cannot be loaded$nl  module \"nosuch\" not found (looked in: .)" \
  -e 'use nosuch; sub main() { }'
RUN_IN=$work/elsewhere check "-m attached" 0 "2$nl" "" "-m$fx/util.velq" "$fx/uses_util.velq"
check "-m that does not compile" 2 "" "$fx/broken.velq:1: Error in line 1: *" \
  -m "$fx/broken.velq" hello.velq
check "-m missing file" 66 "" "velq: cannot read $fx/none.velq*" -m "$fx/none.velq" hello.velq
check "-m same base name twice" 64 "" "velq: -m *other.velq: a module named 'other' is given already*" \
  -m "$work/elsewhere/other.velq" -m "$work/elsewhere/other.velq" hello.velq

# Exit status 1: the run failed; output before the error is kept.
check "runtime error" 1 "before$nl" \
  "fails.velq:3: Error 4 in line 3: Bad arithmetic conversion${nl}  in main (fails.velq:3)" fails.velq
check "runtime error in -e" 1 "" "-e:1: Error 11 in line 1: Function not found (nosuch)${nl}  in main (-e:1)" \
  -e 'nosuch(1)'
check "no main" 1 "" "-e: Error 7 in line 0: main() function not presented" -e 'sub f() { }'

# Exit status 2: compilation failed; FILE, ": " and the compiler's message, then the line
# and a caret under the column where the compiler stood (no line to show at an empty end).
caret_syntax="${nl}  sub main() { x = 1 }${nl}                     ^"
check "syntax error" 2 "" "syntax.velq:3: Error in line 3: syntax error, unexpected '}'$caret_syntax" syntax.velq
check "syntax error from stdin" 2 "" "-:1: Error in line 1: syntax error, unexpected \$end" -
check "lexical error" 2 "" "-e:1: Error in line 1: Invalid character '#' (0x23)${nl}  1 # 2${nl}    ^" -e '1 # 2'
check "unprintable byte shown in hexadecimal only" 2 "" \
  "-e:1: Error in line 1: Invalid character 0xE9${nl}  1 ?${nl}    ^" -e $'1 \xe9'
check "caret after a tab" 2 "" "-e:2: Error in line 2: syntax error, unexpected ')'${nl}  "$'\t'"x = );${nl}  "$'\t'"    ^" \
  -e $'sub main() {\n\tx = );\n}'

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

# Scripts run as programs: a first line starting with #! is skipped and so is a UTF-8
# byte-order mark; line numbers stay those of the file.
check "shebang keeps line numbers" 1 "" \
  "shebang_error.velq:3: Error 4 in line 3: Bad arithmetic conversion${nl}  in main (shebang_error.velq:3)" \
  shebang_error.velq
check "byte-order mark" 0 "bom$nl" "" bom.velq
check "byte-order mark and shebang" 0 "bom and shebang$nl" "" bom_shebang.velq
check "shebang in -e" 0 "1$nl" "" -r -e $'#!velq\n1'
cases=$((cases + 1))
printf '%s\n' '#!/usr/bin/env velq' 'sub main() { println "run as " . $1; exit 3; }' >"$work/program.velq"
chmod +x "$work/program.velq"
got=$(cd "$work" && PATH="$(dirname "$velq"):$PATH" ./program.velq direct 2>&1)
status=$?
if [ "$got" != "run as direct" ] || [ $status -ne 3 ]; then
  failures=$((failures + 1))
  echo "FAIL executable script: status $status, output [$got]"
fi

# Exit statuses from exit and _exit, as the shells give them: an integer modulo 256,
# null 0, any other value 1, so that no failure a script reports reads as success.
check "exit N" 3 "" "" -e 'sub main() { exit 3; }'
check "_exit(N) deep in a call" 4 "" "" -e 'sub f() { _exit(4); } sub main() { f(); }'
check "exit with text that is a number" 7 "" "" -e 'sub main() { exit "7"; }'
check "exit 255" 255 "" "" -e 'sub main() { exit 255; }'
check "exit 256 wraps to 0" 0 "" "" -e 'sub main() { exit 256; }'
check "exit 258 wraps to 2" 2 "" "" -e 'sub main() { exit 258; }'
check "exit -1 gives 255" 255 "" "" -e 'sub main() { exit -1; }'
check "exit -256 gives 0" 0 "" "" -e 'sub main() { exit -256; }'
check "exit of an int64" 1 "" "" -e 'sub main() { exit 4294967297; }'
check "exit of a real is failure" 1 "" "" -e 'sub main() { exit 3.0; }'
check "exit of text is failure" 1 "x$nl" "" -r -e 'sub main() { exit "x"; }'
check "exit of an array is failure" 1 "" "" -e 'sub main() { array a; exit a; }'
check "exit null is success" 0 "" "" -e 'sub main() { exit null; }'
check "bare exit is success" 0 "" "" -e 'sub main() { exit; }'
check "return is no exit" 0 "" "" -e 'sub main() { return 5; }'

# A last line that is a comment without a line feed compiles; an error at the end of
# such a text keeps the text's own line number.
printf 'sub main() { println "end"; } // no line feed' >comment_last.velq
printf 'sub two() { return 2; } //x' >tail.velq
check "comment on the last line of a file" 0 "end$nl" "" comment_last.velq
check "comment at the end of -e" 0 "3$nl" "" -r -e '1 + 2 // note'
check "-m module ending in a comment" 0 "2$nl" "" -m tail.velq -e 'use tail; sub main() { println two(); }'
check "error at the end of -e keeps its line" 2 "" \
  "-e:2: Error in line 2: syntax error, unexpected \$end, expecting '}'${nl}  x = 1;${nl}        ^" \
  -e $'sub main() {\nx = 1;'

# The toolkit is there unless --no-toolkit; --help-functions lists it.
STDIN=$'a\nb\n' check "input counted" 0 "2 lines$nl" "" count.velq
check "toolkit" 0 "3$nl" "" -r -e 'Count(Split("a,b,c", ","))'
check "--no-toolkit" 1 "" "-e:1: Error 11 in line 1: Function not found (Count)${nl}  in main (-e:1)" \
  --no-toolkit -e 'Count(1)'
check "--no-toolkit keeps the built-ins" 0 "3$nl" "" --no-toolkit -r -e 'length("abc")'
functions=$("$velq" --help-functions)
for name in ReadLine ReadFile ArgCount Arg Args PrintError GetEnv WriteFile AppendFile Count Keys \
  Split Join Replace Fields SameText Sort Order Map MapSet MapGet MapHas MapAdd MapRemove MapKeys \
  MapValues Utf8Length Utf8Substr Utf8Upper Utf8Lower Floor Ceil Round Sqrt Format AddrInRange; do
  cases=$((cases + 1))
  if [[ $functions != *"$name"* ]]; then
    failures=$((failures + 1))
    echo "FAIL --help-functions does not list $name"
  fi
done
check "ArgCount" 0 "3$nl" "" -r -e 'ArgCount()' a b c

# -c: compile only, nothing printed when fine; FILE:LINE: and the message otherwise.
check "-c" 0 "" "" -c prints.velq
check "--check" 0 "" "" --check prints.velq
check "-c of a syntax error" 2 "" "syntax.velq:3: Error in line 3: syntax error, unexpected '}'$caret_syntax" \
  -c syntax.velq
check "-c of -e" 2 "" "-e:1: Error in line 1: syntax error, unexpected \$end${nl}  1 +${nl}     ^" -c -e '1 +'
check "-c of a -m module" 2 "" "$fx/broken.velq:1: Error in line 1: *" -c -m "$fx/broken.velq" \
  prints.velq
check "-c without a script" 64 "" "velq: no script given*" -c
check "-c of a script without main" 1 "" "-e: Error 7 in line 0: main() function not presented" \
  -c -e 'sub f() { println "never"; }'
check "-v" 0 "velq $version$nl" "" -v

# Modules next to the script come first, wherever velq runs; an error inside a module
# names the module's file, then every call that led there.
RUN_IN=$work/elsewhere check "module next to the script, error three calls deep" 1 "start$nl" \
  "*deep/lib.velq:3: Error 9 in line 3: Divide by zero$nl  in level3 (*deep/lib.velq:3)$nl  called from level2 (*deep/lib.velq:5)$nl  called from level1 (*deep/lib.velq:6)$nl  called from main ($fx/deep/main.velq:4)" \
  "$fx/deep/main.velq"
check "module that does not compile" 1 "" \
  "deep/uses_bad.velq: Error 16 in line 0: Requested module not found or cannot be loaded$nl  module \"bad\" (*bad.velq): Error in line 1: syntax error*" \
  deep/uses_bad.velq
RUN_IN=$work/elsewhere check "error inside a -m module" 1 "" \
  "$fx/deep/lib.velq:3: Error 9 in line 3: Divide by zero$nl  in level3 ($fx/deep/lib.velq:3)$nl  called from level2*$nl  called from level1*$nl  called from main (-e:1)" \
  -m "$fx/deep/lib.velq" -e 'use lib; sub main() { level1(1); }'
check "deep recursion shows its ends" 1 "" \
  "-e:1: Error 8 in line 1: Control stack overflow$nl  in down (-e:1)$nl*  ... 32758 more calls ...$nl*  called from main (-e:1)" \
  -e 'sub down(n) { return down(n + 1); } sub main() { down(0); }'

# Budgets: each stops a run with its error; a bad value is a usage error.
check "--max-steps" 1 "" "-e:1: Error 26 in line 1: Step limit exceeded$nl  in main (-e:1)" \
  --max-steps 1000 -e 'sub main() { while (1); }'
check "--max-steps=N" 0 "" "" --max-steps=1000 -e 'sub main() { i = 0; while (i < 10) i++; }'
check "--timeout" 1 "" "-e:1: Error 27 in line 1: Time limit exceeded$nl  in main (-e:1)" \
  --timeout 0.2 -e 'sub main() { while (1); }'
check "--max-memory" 1 "" "-e:1: Error 28 in line 1: Memory limit exceeded$nl  in main (-e:1)" \
  --max-memory 64M -e 'sub main() { s = "x"; while (1) s = s . s; }'
# Memory the system refuses ends the run with an error, not the tool. A sanitizer's
# runtime needs more address space than such a limit leaves, so that build skips it.
# (grep reads all of ldd's output: with -q it could stop early, and the pipe would fail.)
if ! ldd "$velq" 2>/dev/null | grep -E 'libasan|libclang_rt\.asan' >/dev/null; then
  cases=$((cases + 1))
  got=$(ulimit -v 1000000 && "$velq" -e 'sub main() { x = left("x", 600000000); y = x . x; }' 2>&1)
  status=$?
  if [ $status -ne 1 ] || [[ $got != "-e:1: Error 29 in line 1: Out of memory"* ]]; then
    failures=$((failures + 1))
    echo "FAIL memory that cannot be had: status $status, output [$got]"
  fi
fi
for bad in "--max-steps abc" "--max-steps -1" "--timeout 1e3" "--timeout ." "--timeout -1" \
  "--max-memory 5X" "--max-memory 99999999999G" "--max-memory="; do
  # shellcheck disable=SC2086
  check "bad value: $bad" 64 "" "velq: invalid value for*" $bad -e '1'
done
check "budget without value" 64 "" "velq: option '--timeout' requires an argument*" --timeout

# The REPL on standard input that is not a terminal (-i): no prompts; values printed,
# assignments not; definitions and variables kept; errors reported and survived.
STDIN=$'x = 1\nx + 1\nsub f(a) { return a * 2; }\nf(x)\nprintln "hi";\nprintln "bare"\n1 +\ny = x % 0;\nsub g(n) {\n  return f(n) + 1;\n}\ng(10)\narray a;\na[2] = "two";\na[2] . "!"\nnull\n"text"\nexit\nprintln "not reached";\n' \
  check "REPL" 0 "2${nl}2${nl}hi${nl}bare${nl}21${nl}two!${nl}text$nl" \
  "repl:7: Error in line 7: syntax error, unexpected \$end${nl}repl:8: Error 9 in line 8: Divide by zero${nl}  in main (repl:8)" \
  -i
STDIN=$'triple(14)\ntwice(1)\n' check "REPL after a script" 0 "ran${nl}42${nl}2$nl" "" -i -m util.velq funcs.velq
STDIN=$'exit 5;\n' check "REPL exit status" 5 "" "" -i
STDIN=$'sub f() { return 1; }\nsub f() { return 2; }\nf()\n' check "REPL redefinition" 0 "2$nl" "" -i
STDIN=$'use nosuch;\n1 + 1\n' check "REPL refuses a module it cannot load" 0 "2$nl" \
  "repl: Error 16 in line 0: Requested module not found or cannot be loaded$nl  module \"nosuch\" not found (looked in: .)" -i
STDIN=$'array a;\na[1] = 5;\narray a;\ntypeof(a[1])\n' check "REPL array declared again" 0 "null$nl" "" -i
STDIN=$'main()\n' check "REPL refuses main" 0 "" "velq: main is*" -i -e 'sub main() { }'
STDIN=$'sub main() { }\n' check "REPL keeps main its own" 0 "" "velq: main is*" -i

# The command-line examples: a word-frequency report from standard input, and a
# grep-like search over several files with grep's exit statuses.
STDIN=$'The cat and the dog\r\nthe CAT\n\n  dog  the \xc3\x89t\xc3\xa9 end\n\xc3\xa9t\xc3\xa9' \
  check "wordfreq.velq" 0 "      4 the${nl}      2 cat${nl}      2 dog${nl}      2 été${nl}      1 and${nl}      1 end$nl" "" \
  "$examples/wordfreq.velq"
check "wordfreq.velq without input" 0 "" "" "$examples/wordfreq.velq"
printf '%s\n' 'alpha 1' 'beta 2' 'alphabet 3' >letters.txt
printf '%s\n' 'gamma' 'alpha' >more.txt
check "search.velq, one file" 0 "alpha 1${nl}alphabet 3$nl" "" "$examples/search.velq" '^alpha' letters.txt
check "search.velq names the files of several" 0 "letters.txt:beta 2${nl}more.txt:gamma$nl" "" \
  "$examples/search.velq" 'ta 2|mm' letters.txt more.txt
check "search.velq, no match" 1 "" "" "$examples/search.velq" zeta letters.txt more.txt
check "search.velq, a file that cannot be read" 2 "more.txt:alpha$nl" "search: cannot read none.txt" \
  "$examples/search.velq" alpha none.txt more.txt
check "search.velq without a file" 2 "" "usage: velq search.velq PATTERN FILE..." \
  "$examples/search.velq" alpha

# --help and --version.
check "--version" 0 "velq $version$nl" "" --version
check "--version wins over a script" 0 "velq $version$nl" "" --version hello.velq
help=$("$velq" --help)
for word in "Usage: velq" "-e TEXT" "-m FILE" "--dump" "--check" "--result" "--trace" "--version" \
  "--interactive" "--no-toolkit" "--help-functions" "--max-steps" "--timeout" "--max-memory" \
  "Exit status" " 0 " " 1 " " 2 " " 64 " " 66 " " 130 " "Example"; do
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
