#!/usr/bin/env bash
# The shared libraries export what the public headers declare, and nothing else.
#   symbols_test.sh LIBRARY... -- HEADER...
#
# The headers mark what is exported: "class VELQ_API NAME" exports a class (its members,
# its typeinfo and its vtable), and a declaration that begins with VELQ_API or
# VELQ_C_EXPORT exports the function or variable it declares. Every dynamic symbol a
# library defines must be one of those; and every function, variable and class the
# headers export must be defined by one of the libraries, or a host that uses it would
# not link.
set -uo pipefail

fail=0
libraries=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  libraries+=("$1")
  shift
done
shift
headers=("$@")
[ ${#libraries[@]} -gt 0 ] && [ ${#headers[@]} -gt 0 ] || {
  echo "usage: symbols_test.sh LIBRARY... -- HEADER..." >&2
  exit 2
}

# The exported classes, and the exported functions and variables: the identifier before
# the first "(" or "[" of the declaration's first line.
classes=$(cat "${headers[@]}" | sed -n 's/^class VELQ_API \([A-Za-z_][A-Za-z_0-9]*\).*/\1/p' |
  sort -u)
names=$(cat "${headers[@]}" | grep -E '^(VELQ_API|VELQ_C_EXPORT) ' | grep -v '^VELQ_API class' |
  sed -E 's/[[(].*//; s/.*[^A-Za-z_0-9]([A-Za-z_][A-Za-z_0-9]*)[[:space:]]*$/\1/' | sort -u)
[ -n "$classes" ] && [ -n "$names" ] || {
  echo "FAIL: found no exported classes or functions in the headers" >&2
  exit 1
}

# Whether a demangled symbol is one the headers export.
declared() {
  local symbol=$1 name
  case $symbol in
    "typeinfo for "* | "typeinfo name for "* | "vtable for "*)
      name=${symbol#typeinfo name for }
      name=${name#typeinfo for }
      name=${name#vtable for }
      grep -qxF -- "$name" <<<"$classes"
      return
      ;;
    # AddressSanitizer's companion of an exported variable.
    __odr_asan.*)
      grep -qxF -- "${symbol#__odr_asan.}" <<<"$names"
      return
      ;;
  esac
  # A member of a class (the name before the parameters holds "::"), or a function or
  # variable.
  name=${symbol%%(*}
  case $name in
    *::*) grep -qxF -- "${name%%::*}" <<<"$classes" ;;
    *) grep -qxF -- "$name" <<<"$names" ;;
  esac
}

all_symbols=""
for library in "${libraries[@]}"; do
  symbols=$(nm -D --defined-only -C "$library" | sed -E 's/^[0-9a-fA-F]* +[A-Za-z] +//') || {
    echo "FAIL: cannot list the symbols of $library" >&2
    exit 1
  }
  count=$(grep -c . <<<"$symbols")
  echo "$(basename "$library"): $count dynamic symbols"
  while IFS= read -r symbol; do
    [ -n "$symbol" ] || continue
    if ! declared "$symbol"; then
      echo "FAIL: $(basename "$library") exports $symbol, which no public header declares" >&2
      fail=1
    fi
  done <<<"$symbols"
  all_symbols+="$symbols"$'\n'
done

# The other way round: what the headers export, the libraries define.
while IFS= read -r name; do
  grep -qE "^$name(\(|$)" <<<"$all_symbols" ||
    { echo "FAIL: $name is declared for export but no library defines it" >&2; fail=1; }
done <<<"$names"
while IFS= read -r class; do
  grep -qE "^($class::|typeinfo for $class$)" <<<"$all_symbols" ||
    { echo "FAIL: class $class is declared for export but no library defines it" >&2; fail=1; }
done <<<"$classes"

[ $fail -eq 0 ] && echo "every exported symbol is declared by a public header, and the reverse"
exit $fail
