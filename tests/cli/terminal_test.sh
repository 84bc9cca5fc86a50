#!/usr/bin/env bash
# Tests of the tool at a terminal, the REPL and Ctrl-C: sessions driven through a
# pseudo-terminal by velq_pty_driver, each a list of steps (see pty_driver.cpp).
#   terminal_test.sh VELQ DRIVER WORK_DIR EDITING
# EDITING is "readline" when velq was built with line editing, which adds a history test.
set -uo pipefail
velq=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
driver=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$3
editing=$4
rm -rf "$work" && mkdir -p "$work" || exit 1
cd "$work" || exit 1
printf '%s\n' 'sub twice(n) { return n * 2; }' 'sub main() { println "script ran"; }' >lib.velq

failures=0
cases=0

# session NAME [VELQ ARG]...: runs velq with the ARGs under the driver, with the steps
# read from standard input.
session() {
  local name=$1
  shift
  cases=$((cases + 1))
  cat >"$work/$name.steps"
  if ! "$driver" "$work/$name.steps" "$velq" "$@" >"$work/$name.out" 2>&1; then
    failures=$((failures + 1))
    echo "FAIL $name"
    sed 's/^/  /' "$work/$name.out"
  fi
}

# The main path: a function and a variable defined, used on later lines, an error
# survived, a definition over several lines, and Ctrl-D to end.
session definitions_and_variables <<'STEPS'
expect Ctrl-D ends the session
expect velq> 
send sub f(a) { return a * 2; }\n
expect velq> 
send x = 21\n
expect velq> 
send f(x)\n
expect 42
expect velq> 
send y = x % 0;\n
expect repl:4: Error 9 in line 4: Divide by zero
expect velq> 
send sub g(n) {\n
expect ....> 
send   return f(n) + 1;\n
expect ....> 
send }\n
expect velq> 
send g(x)\n
expect 43
expect velq> 
send println "x is " . x;\n
expect x is 21
expect velq> 
send \x04
status 0
STEPS

# Ctrl-C abandons the line being typed, and an input left open over several lines.
session ctrl_c_at_the_prompt <<'STEPS'
expect velq> 
send 1 + \x03
expect velq> 
send if (1) {\n
expect ....> 
send \x03
expect velq> 
send 6 * 7\n
expect 42
expect velq> 
send \x04
status 0
STEPS

# Ctrl-C during a statement stops that run only; the session goes on with its variables.
session ctrl_c_stops_a_run <<'STEPS'
expect velq> 
send n = 5\n
expect velq> 
send while (1) if (n++ == 1000) println "run" . "ning";\n
# The echo of the line shows "run" . "ning"; the running statement prints running.
expect \x0d\nrunning
send \x03
expect Error 30
expect velq> 
send n > 5\n
expect 1
expect velq> 
send \x04
status 0
STEPS

# exit ends the session with the status it gives; a script's functions stay at hand.
session exit_after_a_script -i lib.velq <<'STEPS'
expect script ran
expect velq> 
send twice(4)\n
expect 8
expect velq> 
send exit 3;\n
status 3
STEPS

# Ctrl-C during a script's run cancels it: what it printed is kept, the error is
# reported, and the tool exits with 130.
session ctrl_c_stops_a_script -e 'sub main() { println "started"; while (1); }' <<'STEPS'
expect started
send \x03
expect -e:1: Error 30 in line 1: Run cancelled
status 130
STEPS

if [ "$editing" = readline ]; then
  # Ctrl-P brings back the previous input from the history.
  session history <<'STEPS'
expect velq> 
send 40 + 2\n
expect 42
expect velq> 
send \x10\n
expect 42
expect velq> 
send \x04
status 0
STEPS
fi

echo "$cases sessions, $failures failed"
[ $failures -eq 0 ]
