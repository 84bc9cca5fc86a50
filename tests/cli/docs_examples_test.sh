#!/usr/bin/env bash
# Runs every script example of the documents and every script under examples/, so that
# what the documents show is what velq does.
#   docs_examples_test.sh VELQ SOURCE_DIR WORK_DIR
#
# In README.md and docs/*.md every fenced block marked velq is a whole script; it must
# compile, and it is run when it holds expectations. Expectations are comments,
# anywhere on a line, with the rest of the line as the text:
#   // expect: TEXT                  one line of standard output, in order
#   // expect result: TEXT           the result as written by velq -r (after the output)
#   // expect trace: TEXT            one line of standard error under velq -t
#   // expect runtime error: TEXT    the run fails (status 1) with "FILE:LINE: TEXT" on
#                                    standard error (the calls that led there follow)
#   // expect compile error: TEXT    compilation fails (status 2) with "FILE:LINE: TEXT"
#   // args: A B ...                 the script's arguments
#   // listing:                      the lines "// TEXT" after it are the listing of velq -d
# Scripts run in examples/, so that `use NAME;` finds the module files kept there.
# Every fenced block marked cpp must be an excerpt, character for character, of a
# file in examples/host/ (whose programs the install tests build and run) or examples/cpp/
# (which the C++ layer's tests build and run), of a public header or of the velq tool;
# every block marked cmake of examples/host/CMakeLists.txt.
#
# A velq block right after a line "<!-- file: NAME -->" is also written as the file NAME
# into a folder of its document, where the document's console blocks run: each line
# "$ COMMAND" runs COMMAND with bash there (velq on the PATH, no standard input), and the
# lines up to the next "$ " or the end of the block are its standard output and standard
# error together.
set -uo pipefail
velq=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source_dir=$2
work=$3
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0
cases=0

# check_script FILE LABEL: runs FILE by its expectations; LABEL names it in messages.
check_script() {
  local file=$1 label=$2
  local expect_out="" expect_err="" status=0 options=() args=() compile_error=""
  local line text listing=0
  while IFS= read -r line || [ -n "$line" ]; do
    if [ $listing -eq 1 ]; then
      case $line in
        "// "*) expect_out+="${line#// }"$'\n'; continue ;;
        *) listing=2 ;;
      esac
    fi
    case $line in
      "// listing:") listing=1; options+=(-d) ;;
      *"// expect: "* | *"// expect:") text=${line#*// expect:}; text=${text# }
        expect_out+="$text"$'\n' ;;
      *"// expect result: "*) options+=(-r); expect_out+="${line#*// expect result: }"$'\n' ;;
      *"// expect trace: "*) options+=(-t); expect_err+="${line#*// expect trace: }"$'\n' ;;
      *"// expect runtime error: "*) status=1; expect_err+="${line#*// expect runtime error: }"$'\n' ;;
      *"// expect compile error: "*) status=2; compile_error=${line#*// expect compile error: } ;;
      *"// args: "*) read -r -a args <<<"${line#*// args: }" ;;
    esac
  done <"$file"
  if [ -n "$compile_error" ]; then
    local line_number=${compile_error#Error in line }
    line_number=${line_number%%:*}
    expect_err="$file:$line_number: $compile_error"$'\n'
  fi

  cases=$((cases + 1))
  if [ -z "$expect_out$expect_err" ] && [ $status -eq 0 ]; then
    # No expectations: the script must compile.
    "$velq" -d "$file" >/dev/null 2>"$work/stderr" || {
      failures=$((failures + 1))
      echo "FAIL $label: does not compile: $(cat "$work/stderr")"
    }
    return
  fi
  local got_out got_err got_status
  got_out=$(
    cd "$source_dir/examples" && "$velq" "${options[@]}" "$file" "${args[@]}" 2>"$work/stderr" </dev/null
    echo "status=$?"
  )
  got_status=${got_out##*status=}
  got_out=${got_out%status=*}
  got_err=$(cat "$work/stderr"; echo x)
  got_err=${got_err%x}
  # A run-time error is expected by its text: the place before it, the subject in
  # parentheses after it and the calls below it are the tool's (see cli_test.sh); so are
  # the source line and caret below a compile error.
  if [ $status -eq 1 ]; then
    got_err=$(printf '%s' "$got_err" | grep -v '^  ' |
      sed "s|^$file:[0-9]*: ||; s|^$file: ||; s| ([^()]*)\$||"; echo x)
    got_err=${got_err%x}
  elif [ $status -eq 2 ]; then
    got_err=$(printf '%s' "$got_err" | grep -v '^  '; echo x)
    got_err=${got_err%x}
  fi
  local problems=()
  [ "$got_status" = "$status" ] || problems+=("exit status: expected $status, got $got_status")
  [ "$got_out" = "$expect_out" ] || problems+=("stdout: expected [$expect_out], got [$got_out]")
  [ "$got_err" = "$expect_err" ] || problems+=("stderr: expected [$expect_err], got [$got_err]")
  if [ ${#problems[@]} -gt 0 ]; then
    failures=$((failures + 1))
    echo "FAIL $label"
    printf '  %s\n' "${problems[@]}"
  fi
}

# The documents' velq blocks, each written to a file named after its place (and under
# its own name when one is given), and their console blocks.
for doc in "$source_dir/README.md" "$source_dir"/docs/*.md; do
  name=$(basename "$doc" .md)
  mkdir -p "$work/files-$name"
  awk -v out="$work/$name" -v files="$work/files-$name" '
    /^<!-- file: [^ ]+ -->$/ { named = files "/" $3; next }
    /^```velq[[:space:]]*$/ { file = sprintf("%s-L%04d.velq", out, NR + 1); inside = 1; copy = named; named = ""; next }
    /^```cpp[[:space:]]*$/ { file = sprintf("%s-L%04d.cpp", out, NR + 1); inside = 1; next }
    /^```cmake[[:space:]]*$/ { file = sprintf("%s-L%04d.cmake", out, NR + 1); inside = 1; next }
    /^```console[[:space:]]*$/ { file = sprintf("%s-L%04d.console", out, NR + 1); inside = 1; next }
    inside && /^```[[:space:]]*$/ { inside = 0; close(file); if (copy != "") close(copy); copy = ""; next }
    inside { print > file; if (copy != "") print > copy }
    { named = "" }
  ' "$doc"
done
for file in "$work"/*.velq; do
  [ -e "$file" ] || continue
  base=$(basename "$file" .velq)
  check_script "$file" "${base%-L*}.md line $((10#${base##*-L}))"
done

# The documents' console blocks: each command's output is what the block shows.
velq_dir=$(dirname "$velq")
for block in "$work"/*.console; do
  [ -e "$block" ] || continue
  base=$(basename "$block" .console)
  doc=${base%-L*}
  first=$((10#${base##*-L}))
  commands=()
  outputs=()
  lines=()
  number=0
  while IFS= read -r line || [ -n "$line" ]; do
    if [[ $line == '$ '* ]]; then
      commands+=("${line#\$ }")
      outputs+=("")
      lines+=($((first + number)))
    elif [ ${#commands[@]} -gt 0 ]; then
      outputs[${#outputs[@]} - 1]+="$line"$'\n'
    fi
    number=$((number + 1))
  done <"$block"
  for i in "${!commands[@]}"; do
    cases=$((cases + 1))
    got=$(cd "$work/files-$doc" && PATH="$velq_dir:$PATH" bash -c "${commands[$i]}" 2>&1 </dev/null; echo x)
    got=${got%x}
    if [ "$got" != "${outputs[$i]}" ]; then
      failures=$((failures + 1))
      echo "FAIL $doc.md line ${lines[$i]}: \$ ${commands[$i]}"
      echo "  expected [${outputs[$i]}], got [$got]"
    fi
  done
done

# The documents' C++ and CMake blocks are excerpts of files that are built.
for file in "$work"/*.cpp "$work"/*.cmake; do
  [ -e "$file" ] || continue
  cases=$((cases + 1))
  excerpt=$(cat "$file")
  if [[ $file == *.cpp ]]; then
    sources=("$source_dir"/examples/host/*.cpp "$source_dir"/examples/cpp/*.cpp
      "$source_dir"/src/libvelq/include/velq/*.h "$source_dir"/src/libvelq/include/velq/*.hpp
      "$source_dir"/src/cli/*.cpp)
  else
    sources=("$source_dir/examples/host/CMakeLists.txt")
  fi
  found=0
  for source in "${sources[@]}"; do
    [[ $(cat "$source") == *"$excerpt"* ]] && found=1 && break
  done
  if [ $found -eq 0 ]; then
    base=$(basename "$file")
    base=${base%.*}
    failures=$((failures + 1))
    echo "FAIL ${base%-L*}.md line $((10#${base##*-L})): block is not an excerpt of ${sources[*]##*/}"
  fi
done

# The output of examples/host/host.cpp that the embedding guide shows is the one the
# install tests expect.
cases=$((cases + 1))
if [[ $(cat "$source_dir/docs/embedding.md") != *"$(cat "$source_dir/tests/cli/host.expected")"* ]]; then
  failures=$((failures + 1))
  echo "FAIL embedding.md does not show the output in tests/cli/host.expected"
fi

# The example scripts; files whose first line is "// module" are only used as modules.
for file in "$source_dir"/examples/*.velq; do
  [ "$(head -n 1 "$file")" = "// module" ] && continue
  check_script "$file" "examples/$(basename "$file")"
done

echo "$cases examples, $failures failed"
[ $failures -eq 0 ]
