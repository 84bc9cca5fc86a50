#!/usr/bin/env bash
# Tests of the installed package, made with shared or with static libraries (KIND).
#   install_test.sh install BUILD_DIR PREFIX LIBDIR VERSION KIND
#       installs the build into PREFIX and checks the installed files and tool
#   install_test.sh cmake|pkgconfig SOURCE_DIR PREFIX LIBDIR WORK_DIR EXPECTED_DIR KIND [CXXFLAGS]
#       builds examples/host against PREFIX with find_package or with pkg-config (with
#       --static for static libraries), runs the programs and compares their output
#       with EXPECTED_DIR/*.expected
set -euo pipefail
mode=$1

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# check_linkage PROGRAM KIND: a program linked with the shared libraries loads libvelq
# (which loads libkorvat); one linked with the static libraries has them inside and
# loads neither.
check_linkage() {
  local needed
  needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p' | tr '\n' ' ')
  case $2 in
    shared) [[ $needed == *libvelq.so.* ]] ||
      fail "$1 does not load the shared libvelq (it needs: $needed)" ;;
    static) [[ $needed != *libvelq* && $needed != *libkorvat* ]] ||
      fail "$1 loads a shared velq library although the static ones were installed ($needed)" ;;
    *) fail "unknown kind of libraries '$2'" ;;
  esac
}

if [ "$mode" = install ]; then
  build=$2 prefix=$3 libdir=$4 version=$5 kind=$6
  rm -rf "$prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  major=${version%%.*}
  for file in include/velq/velq.h include/velq/korvat.h include/velq/velq_program.h bin/velq \
    "$libdir/cmake/velq/velqConfig.cmake" "$libdir/cmake/velq/velqConfigVersion.cmake" \
    "$libdir/cmake/velq/velqTargets.cmake" "$libdir/pkgconfig/velq.pc" \
    share/doc/velq/copyright share/doc/velq/language.md share/doc/velq/cli.md share/man/man1/velq.1.gz \
    share/velq/editors/textmate/package.json \
    share/velq/editors/textmate/syntaxes/velq.tmLanguage.json \
    share/vim/vimfiles/syntax/velq.vim share/vim/vimfiles/ftdetect/velq.vim; do
    [ -e "$prefix/$file" ] || fail "$file is not installed"
  done
  grep -q "^License: MIT$" "$prefix/share/doc/velq/copyright" ||
    fail "share/doc/velq/copyright does not name the MIT license"
  if [ "$kind" = shared ]; then
    for file in "$libdir/libvelq.so.$version" "$libdir/libvelq.so.$major" "$libdir/libvelq.so" \
      "$libdir/libkorvat.so.$version" "$libdir/libkorvat.so"; do
      [ -e "$prefix/$file" ] || fail "$file is not installed"
    done
    soname=$(readelf -d "$prefix/$libdir/libvelq.so.$version" | sed -n 's/.*SONAME.*\[\(.*\)\].*/\1/p')
    [ "$soname" = "libvelq.so.$major" ] || fail "SONAME is '$soname'"
  else
    for file in "$libdir/libvelq.a" "$libdir/libkorvat.a"; do
      [ -e "$prefix/$file" ] || fail "$file is not installed"
    done
    shared=$(cd "$prefix/$libdir" && ls -- *.so* 2>/dev/null || true)
    [ -z "$shared" ] || fail "a static build installed shared libraries: $shared"
  fi
  check_linkage "$prefix/bin/velq" "$kind"
  # The installed tool finds the installed libraries by itself.
  out=$(env -u LD_LIBRARY_PATH "$prefix/bin/velq" --version)
  [ "$out" = "velq $version" ] || fail "installed velq --version printed '$out'"
  out=$(env -u LD_LIBRARY_PATH "$prefix/bin/velq" -r -e '$1 . "-" . length($2)' ok four)
  [ "$out" = "ok-4" ] || fail "installed velq printed '$out'"
  export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
  version_in_pc=$(pkg-config --modversion velq)
  [ "$version_in_pc" = "$version" ] || fail "velq.pc says version '$version_in_pc'"
  # A static libvelq needs the C++ runtime and the thread library at the host's link.
  static_libs=$(pkg-config --static --libs velq)
  [[ $static_libs == *-lstdc++* && $static_libs == *-pthread* ]] ||
    fail "pkg-config --static --libs velq gives '$static_libs'"
  echo "installed the $kind libraries into $prefix"
  exit 0
fi

source_dir=$2 prefix=$3 libdir=$4 work=$5 expected=$6 kind=$7 cxxflags=${8:-}
rm -rf "$work"
mkdir -p "$work"
case $mode in
  cmake)
    cmake -S "$source_dir/examples/host" -B "$work" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$cxxflags" >"$work/configure.log" ||
      { cat "$work/configure.log"; fail "examples/host does not configure"; }
    cmake --build "$work" >"$work/build.log" || { cat "$work/build.log"; fail "examples/host does not build"; }
    ;;
  pkgconfig)
    export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
    # Static libraries bring their own dependencies only with --static.
    pkg_config=pkg-config
    [ "$kind" = static ] && pkg_config="pkg-config --static"
    pc_libdir=$(pkg-config --variable=libdir velq)
    [ "$(cd "$pc_libdir" && pwd -P)" = "$(cd "$prefix/$libdir" && pwd -P)" ] ||
      fail "pkg-config gives the libdir '$pc_libdir'"
    if command -v make >/dev/null; then
      make -s -C "$work" -f "$source_dir/examples/host/Makefile" CXXFLAGS="-O0 -Wall $cxxflags" \
        PKG_CONFIG="$pkg_config" ||
        fail "examples/host does not build with make and pkg-config"
    else
      # Without make, the commands that its Makefile runs.
      for program in minimal host library untrusted; do
        # shellcheck disable=SC2046,SC2086
        g++ -std=c++17 -O0 -Wall $cxxflags -pthread $($pkg_config --cflags velq) \
          -o "$work/$program" "$source_dir/examples/host/$program.cpp" $($pkg_config --libs velq) \
          -Wl,-rpath,"$pc_libdir" || fail "examples/host/$program.cpp does not build with pkg-config"
      done
    fi
    ;;
  *) fail "unknown mode $mode" ;;
esac

# The programs must run without help from the environment to find the libraries.
for program in minimal host library untrusted; do
  check_linkage "$work/$program" "$kind"
  status=0
  env -u LD_LIBRARY_PATH "$work/$program" >"$work/$program.out" 2>"$work/$program.err" || status=$?
  [ $status -eq 0 ] || { cat "$work/$program.err"; fail "$program exited with status $status"; }
  diff -u "$expected/$program.expected" "$work/$program.out" || fail "$program printed something else"
done
echo "examples/host built with $mode against the $kind libraries and ran"
