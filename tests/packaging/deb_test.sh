#!/usr/bin/env bash
# Tests the Debian package: builds it with cpack from BUILD_DIR, checks its control
# fields and its contents, unpacks it into a scratch root and runs the tool from there.
#   deb_test.sh BUILD_DIR WORK_DIR VERSION
# Exits 77, which ctest reports as skipped, when the Debian tools are not installed.
set -uo pipefail
build=$1 work=$2 version=$3
major=${version%%.*}

fail() {
  echo "FAIL: $*"
  exit 1
}

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null ||
    { echo "SKIPPED: $tool is not installed (scripts/setup installs dpkg-dev as root)"; exit 77; }
done

rm -rf "$work" && mkdir -p "$work" || exit 1
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
debs=("$work"/out/velq_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack wrote no single velq_*.deb: ${debs[*]}"
deb=${debs[0]}
[[ $(basename "$deb") == "velq_${version}_$(dpkg --print-architecture).deb" ]] ||
  fail "the package file is named $(basename "$deb")"

# Control fields. The dependencies come from dpkg-shlibdeps: the C and C++ runtimes,
# never the package's own libraries.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = velq ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Maintainer)" = "velq developers" ] || fail "Maintainer: $(field Maintainer)"
depends=$(field Depends)
for dependency in "libc6 (>=" "libstdc++6 (>="; do
  [[ $depends == *"$dependency"* ]] || fail "Depends lacks $dependency: $depends"
done
[[ $depends != *velq* && $depends != *korvat* ]] || fail "Depends names velq's own libraries: $depends"

# Packages built against the libraries depend on this package through its shlibs file.
dpkg-deb --control "$deb" "$work/control" || fail "cannot read the control archive"
for library in libvelq libkorvat; do
  grep -qx "$library $major velq (= $version)" "$work/control/shlibs" ||
    fail "shlibs has no line for $library: $(cat "$work/control/shlibs" 2>/dev/null)"
done

# Contents: everything under /usr, and every part a user or a host needs.
dpkg-deb --contents "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/contents"
outside=$(grep -v '^/usr/' "$work/contents" | grep -vx '/')
[ -z "$outside" ] || fail "files outside /usr: $outside"
for file in /usr/bin/velq \
  "/usr/lib/libvelq.so.$version" "/usr/lib/libvelq.so.$major" /usr/lib/libvelq.so \
  "/usr/lib/libkorvat.so.$version" "/usr/lib/libkorvat.so.$major" /usr/lib/libkorvat.so \
  /usr/include/velq/velq.h /usr/include/velq/velq_program.h /usr/include/velq/korvat.h \
  /usr/lib/cmake/velq/velqConfig.cmake /usr/lib/cmake/velq/velqTargets.cmake \
  /usr/lib/pkgconfig/velq.pc /usr/share/man/man1/velq.1.gz /usr/share/doc/velq/copyright \
  /usr/share/doc/velq/language.md /usr/share/doc/velq/cli.md \
  /usr/share/velq/editors/textmate/package.json \
  /usr/share/velq/editors/textmate/syntaxes/velq.tmLanguage.json \
  /usr/share/vim/vimfiles/syntax/velq.vim /usr/share/vim/vimfiles/ftdetect/velq.vim; do
  grep -qx "$file" "$work/contents" || fail "the package lacks $file"
done
programs=$(grep '^/usr/bin/.' "$work/contents" | grep -vx /usr/bin/velq)
[ -z "$programs" ] || fail "the package holds other programs: $programs"

# Unpacked into a scratch root, the tool finds the package's libraries by itself.
root=$work/root
dpkg-deb --extract "$deb" "$root" || fail "dpkg-deb --extract failed"
velq=$root/usr/bin/velq
out=$(env -u LD_LIBRARY_PATH "$velq" --version) || fail "the unpacked velq does not run"
[ "$out" = "velq $version" ] || fail "the unpacked velq --version printed '$out'"
out=$(env -u LD_LIBRARY_PATH "$velq" -r -e '$1 . "-" . length($2)' ok four)
[ "$out" = "ok-4" ] || fail "the unpacked velq printed '$out'"
loaded=$(env -u LD_LIBRARY_PATH ldd "$velq" | awk '$1 ~ /^libvelq/ { print $3 }')
[ -n "$loaded" ] && [ "$(realpath "$loaded")" = "$(realpath "$root/usr/lib/libvelq.so.$version")" ] ||
  fail "the unpacked velq loads the libvelq at '$loaded'"
# velq.pc finds the unpacked tree from its own place.
pc_libdir=$(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --variable=libdir velq)
[ "$(cd "$pc_libdir" && pwd -P)" = "$(cd "$root/usr/lib" && pwd -P)" ] ||
  fail "the unpacked velq.pc gives the libdir $pc_libdir"

echo "$(basename "$deb"): $(wc -l <"$work/contents") entries, Depends: $depends"
