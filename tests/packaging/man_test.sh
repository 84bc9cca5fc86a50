#!/usr/bin/env bash
# Tests the manual page velq.1: it renders without a single warning, and it documents
# every option and exit status that `velq --help` prints, so that it cannot fall behind
# the tool.
#   man_test.sh VELQ MAN_PAGE WORK_DIR
# Exits 77, which ctest reports as skipped, when groff or mandoc is not installed.
set -uo pipefail
velq=$1 page=$2 work=$3
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

for tool in groff mandoc; do
  command -v $tool >/dev/null ||
    { echo "SKIPPED: $tool is not installed (scripts/setup installs it as root)"; exit 77; }
done

# Every warning of either formatter fails the test, style remarks included.
groff -man -ww -rCHECKSTYLE=10 -z "$page" >"$work/groff.log" 2>&1 || fail "groff failed"
[ -s "$work/groff.log" ] && fail "groff -ww warns: $(cat "$work/groff.log")"
mandoc -Tlint -W style "$page" >"$work/mandoc.log" 2>&1 ||
  fail "mandoc -Tlint warns: $(cat "$work/mandoc.log")"

# The page as a reader sees it, without bold or underline.
groff -man -Tascii -P-cbou "$page" >"$work/page.txt" 2>/dev/null || fail "groff -Tascii failed"
"$velq" --help >"$work/help.txt" || fail "velq --help failed"

# heads SECTION: the terms that the page's SECTION defines (the tags of its tagged
# paragraphs, indented by 7 columns, up to the text that follows them), one a line.
heads() {
  awk -v section="$1" '
    /^[A-Z]/ { inside = ($0 == section); next }
    inside && /^       [^ ]/ { sub(/^ +/, ""); sub(/  .*/, ""); print }' "$work/page.txt"
}
# The options that the page defines: every -x and --word of the OPTIONS tags.
heads OPTIONS | tr ',' '\n' | awk '{ print $1 }' | sort -u >"$work/page-options"
heads "EXIT STATUS" | awk '{ print $1 }' | sort -u >"$work/page-statuses"

# The options of --help: the first word of each item of the lines under "Options:"
# that start with an option ("  -d, --dump     compile only...").
awk '/^Options:/ { inside = 1; next } /^$/ { inside = 0 }
     inside && /^ +-/ { sub(/^ +/, ""); sub(/  .*/, ""); print }' "$work/help.txt" |
  tr ',' '\n' | awk '{ print $1 }' | sort -u >"$work/help-options"
awk '/^Exit status:/ { inside = 1; next } /^$/ { inside = 0 }
     inside && /^ +[0-9]+ / { print $1 }' "$work/help.txt" | sort -u >"$work/help-statuses"

[ -s "$work/help-options" ] || fail "found no options in velq --help"
[ -s "$work/help-statuses" ] || fail "found no exit statuses in velq --help"
missing=$(comm -23 "$work/help-options" "$work/page-options")
[ -z "$missing" ] || fail "options of velq --help that the page's OPTIONS do not define:" $missing
missing=$(comm -23 "$work/help-statuses" "$work/page-statuses")
[ -z "$missing" ] || fail "exit statuses of velq --help missing from EXIT STATUS:" $missing

for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT EXAMPLES; do
  grep -qx "$section" "$work/page.txt" || fail "the page has no section $section"
done

[ $failures -eq 0 ] && echo "velq.1 renders cleanly and documents the $(wc -l <"$work/help-options") options of velq --help"
[ $failures -eq 0 ]
