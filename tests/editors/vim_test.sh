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

vim -Nu NONE -i NONE -es --cmd "set rtp^=$source_dir/editors/vim" \
  -c "source $source_dir/tests/editors/vim_test.vim" "$work" </dev/null
status=$?
if [ -s "$work/failures" ]; then
  sed 's/^/FAIL /' "$work/failures"
elif [ $status -ne 0 ]; then
  echo "FAIL vim exited with status $status before writing its results"
fi
[ $status -eq 0 ] && echo "editors/vim: file type and syntax groups as expected"
exit $status
