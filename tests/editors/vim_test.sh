#!/usr/bin/env bash
# Tests editors/vim with vim: file-type detection and syntax groups (see vim_test.vim).
#   vim_test.sh SOURCE_DIR WORK_DIR
# Exits 77, which ctest reports as skipped, when vim with syntax support is not there.
set -uo pipefail
source_dir=$1 work=$2
rm -rf "$work" && mkdir -p "$work" || exit 1

if ! command -v vim >/dev/null || ! vim --version | grep -q '+syntax'; then
  echo "SKIPPED: vim with syntax support is not installed (scripts/setup installs it as root)"
  exit 77
fi

# The function names the syntax knows are those of the engine's tables: the built-ins
# and the toolkit.
names_of() {  # GROUP: the names of the vim keyword group, one a line, sorted
  # Continuation lines (starting with a backslash) join the line before them.
  awk '/^ *\\/ { sub(/^ *\\/, ""); line = line $0; next } { if (line != "") print line; line = $0 }
    END { print line }' "$source_dir/editors/vim/syntax/velq.vim" |
    awk -v group="$1" '$1 == "syntax" && $2 == "keyword" && $3 == group {
      for (i = 4; i <= NF; i++) print $i }' | sort
}
table_names() {  # FILE PREFIX: the names of an engine table's records, sorted
  grep -o "^ *$2\"[A-Za-z_0-9]*\"" "$source_dir/src/libvelq/builtins/$1" | sed 's/.*"\(.*\)"/\1/' | sort
}
table_check=0
if [ "$(names_of velqBuiltin)" != "$(table_names builtin_table.cpp '{')" ]; then
  echo "FAIL the vim keywords velqBuiltin are not the built-ins of builtin_table.cpp"
  table_check=1
fi
if [ "$(names_of velqToolkit)" != "$(table_names toolkit_functions.cpp '{{')" ]; then
  echo "FAIL the vim keywords velqToolkit are not the functions of the toolkit's table"
  table_check=1
fi

vim -Nu NONE -i NONE -es --cmd "set rtp^=$source_dir/editors/vim" \
  -c "source $source_dir/tests/editors/vim_test.vim" "$work" </dev/null
status=$?
if [ -s "$work/failures" ]; then
  sed 's/^/FAIL /' "$work/failures"
elif [ $status -ne 0 ]; then
  echo "FAIL vim exited with status $status before writing its results"
fi
[ $status -eq 0 ] && [ $table_check -eq 0 ] && echo "editors/vim: file type and syntax groups as expected"
[ $status -eq 0 ] && exit $table_check
exit $status
