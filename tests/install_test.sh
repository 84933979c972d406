#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Installs a built tree into a temporary prefix, component by component, and
# builds and runs an out-of-tree consumer against it with find_package and
# with pkg-config, natively also with each of ld.bfd, gold and lld under
# -Wl,--as-needed.
#   tests/install_test.sh BUILD_DIR [TOOLCHAIN_FILE EMULATOR CXX]
#   tests/install_test.sh --absolute-dirs SOURCE_DIR
# With a toolchain file (a cross build) the consumer is cross-compiled and run
# under the emulator; its pkg-config build (with the cross compiler CXX)
# links against a staged sysroot
# (PKG_CONFIG_SYSROOT_DIR) holding the install and the target's log4cpp
# development files. --absolute-dirs configures and builds the library from
# SOURCE_DIR with absolute CMAKE_INSTALL_LIBDIR and CMAKE_INSTALL_INCLUDEDIR
# (one inside the prefix, one outside it) and checks that install.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# check_pc PC_FILE: the folders it names exist, no doubled slash.
check_pc() {
  local pc=$1 dir
  grep -E '^(libdir|includedir)=' "$pc" | grep -q '//' && fail "$pc: $(grep -E '^(libdir|includedir)=' "$pc")"
  for var in libdir includedir; do
    dir=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable="$var" vemutils)
    [ -d "${sysroot:-}$dir" ] || fail "$pc: $var=$dir does not exist"
  done
  [ -f "$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable=includedir vemutils)/vemutils/hdlc.h" ] ||
    [ -n "${sysroot:-}" ] || fail "$pc: no vemutils/hdlc.h under includedir"
}

# consume_cmake PREFIX LIBDIR [CMAKE ARGS...]: find_package consumer, run.
consume_cmake() {
  local prefix=$1 libdir=$2
  shift 2
  echo "== consumer through find_package $*"
  rm -rf "$tmp/cmake-build"
  cmake -S "$here/consumer" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
  cmake --build "$tmp/cmake-build" >/dev/null
  env LD_LIBRARY_PATH="$libdir" $emulator "$tmp/cmake-build/consumer"
}

# consume_pc CXX LIBDIR [FLAGS...]: pkg-config consumer with the environment
# as set, run.
consume_pc() {
  local cxx=$1 libdir=$2
  shift 2
  echo "== consumer through pkg-config $*"
  pkg-config --exists 'vemutils >= 0.1' || fail "pkg-config does not find vemutils"
  # shellcheck disable=SC2046
  $cxx -std=c++17 "$@" -o "$tmp/pc-consumer" "$here/consumer/main.cpp" $(pkg-config --cflags --libs vemutils)
  env LD_LIBRARY_PATH="$libdir" $emulator "$tmp/pc-consumer"
}

if [ "$1" = --absolute-dirs ]; then
  src=$(cd "$2" && pwd)
  emulator=
  prefix=$tmp/abs/usr
  multiarch=$(c++ -print-multiarch)
  libdir=$prefix/lib/$multiarch # inside the prefix, where find_package looks
  incdir=$tmp/abs/headers      # outside it
  cmake -S "$src" -B "$tmp/build" -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR="$libdir" -DCMAKE_INSTALL_INCLUDEDIR="$incdir" >/dev/null
  cmake --build "$tmp/build" -j"${JOBS:-2}" --target vemutils vemlog >/dev/null
  cmake --install "$tmp/build" --component Runtime >/dev/null
  cmake --install "$tmp/build" --component Development >/dev/null
  pc=$libdir/pkgconfig/vemutils.pc
  grep -qx "libdir=\${prefix}/lib/$multiarch" "$pc" || fail "libdir in $pc: $(grep ^libdir= "$pc")"
  grep -qx "includedir=$incdir" "$pc" || fail "includedir in $pc: $(grep ^includedir= "$pc")"
  check_pc "$pc"
  [ -f "$incdir/vemutils/hdlc.h" ] || fail "headers not under $incdir/vemutils"
  consume_cmake "$prefix" "$libdir"
  PKG_CONFIG_PATH="$libdir/pkgconfig" consume_pc c++ "$libdir"
  exit 0
fi

build=$(cd "$1" && pwd)
toolchain=${2:-}
emulator=${3:-}
cxx=${4:-c++}
prefix=$tmp/prefix

cmake --install "$build" --prefix "$prefix/runtime" --component Runtime >/dev/null
runtime=$(cd "$prefix/runtime" && find . -type f -o -type l | sort)
[ -n "$(find "$prefix/runtime" -name 'libvemutils.so.0')" ] || fail "Runtime lacks libvemutils.so.0"
if echo "$runtime" | grep -E '\.h$|\.cmake$|\.pc$|libvemutils\.so$'; then
  fail "Runtime component holds development files"
fi

cmake --install "$build" --prefix "$prefix" --component Runtime >/dev/null
cmake --install "$build" --prefix "$prefix" --component Development >/dev/null
cmake --install "$build" --prefix "$prefix" --component Tools >/dev/null
libdir=$(dirname "$(find "$prefix" -path "$prefix/runtime" -prune -o -name libvemutils.so -print)")
for f in libvemutils.so libvemutils.so.0 libvemlog.so libvemlog.so.0; do
  [ -e "$libdir/$f" ] || fail "missing $f"
done
[ "$(readlink "$libdir/libvemutils.so")" = libvemutils.so.0 ] || fail "dev link does not name the SONAME"
[ -f "$prefix/include/vemutils/hdlc.h" ] || fail "headers not under include/vemutils"
check_pc "$libdir/pkgconfig/vemutils.pc"

echo "== installed vemlink"
frame=$(env LD_LIBRARY_PATH="$libdir" $emulator "$prefix/bin/vemlink" encode 616263) ||
  fail "vemlink does not run"
[ "$frame" = "7E 61 62 63 25 9E 7E" ] || fail "installed vemlink encodes 616263 as '$frame'"
# Installed under a prefix the loader does not search, vemlink finds the
# libraries beside it through its relative run path, and names no folder of
# the build tree.
version=$(env -u LD_LIBRARY_PATH $emulator "$prefix/bin/vemlink" --version) ||
  fail "vemlink does not run from $prefix without LD_LIBRARY_PATH"
[ "$version" = "vemlink $(sed -n 's/^project(vemutils VERSION \([0-9.]*\).*/\1/p' "$here/../CMakeLists.txt")" ] ||
  fail "installed vemlink --version says '$version'"
readelf -d "$prefix/bin/vemlink" | grep -E 'RPATH|RUNPATH' | grep -qF "$build" &&
  fail "the installed vemlink keeps a run path into the build tree"
echo "vemlink: ok"
[ -f "$prefix/share/man/man1/vemlink.1" ] || fail "no share/man/man1/vemlink.1"
completion=$prefix/share/bash-completion/completions/vemlink
[ -f "$completion" ] || fail "no share/bash-completion/completions/vemlink"
if [ -z "$emulator" ]; then
  echo "== installed bash completion"
  LD_LIBRARY_PATH="$libdir" "$here/completion_test.sh" "$prefix" ||
    fail "the installed completion"
fi

cross=()
[ -n "$toolchain" ] && cross=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
consume_cmake "$prefix" "$libdir" "${cross[@]}"

if [ -z "$toolchain" ]; then
  PKG_CONFIG_PATH="$libdir/pkgconfig" consume_pc c++ "$libdir"
  # The consumer calls nothing of the logger itself; only libvemutils does.
  # Under --as-needed, gold and lld (unlike ld.bfd) drop a library that
  # nothing before it on the line uses, and the program then fails to load
  # with "undefined symbol: ..." (cVemlog's here; log4cpp's
  # AppenderMapStorageInitializer for a program without hdlc.h) unless the
  # link keeps it.
  for ld in bfd gold lld; do
    consume_cmake "$prefix" "$libdir" -DCMAKE_EXE_LINKER_FLAGS="-fuse-ld=$ld -Wl,--as-needed"
    PKG_CONFIG_PATH="$libdir/pkgconfig" consume_pc c++ "$libdir" -fuse-ld=$ld -Wl,--as-needed
  done
  exit 0
fi

# A cross consumer through pkg-config, as a target's build system does it:
# the install staged under a sysroot at its real prefix, with the target's
# log4cpp development files (liblog4cpp.so, log4cpp.pc) unpacked beside it.
# The target's runtime package alone has neither.
sysroot=$tmp/sysroot
DESTDIR=$sysroot cmake --install "$build" --prefix /usr --component Runtime >/dev/null
DESTDIR=$sysroot cmake --install "$build" --prefix /usr --component Development >/dev/null
multiarch=$("$cxx" -print-multiarch)
arch=$(dpkg-architecture -t "$multiarch" -qDEB_HOST_ARCH 2>/dev/null)
"$here/../scripts/unpack-debs" "$sysroot" "liblog4cpp5-dev:$arch" "liblog4cpp5v5:$arch"
stagedlib=$(dirname "$(find "$sysroot" -name libvemutils.so)")
check_pc "$stagedlib/pkgconfig/vemutils.pc"
grep -qx 'prefix=/usr' "$stagedlib/pkgconfig/vemutils.pc" || fail "staged vemutils.pc does not name /usr"
PKG_CONFIG_LIBDIR="$stagedlib/pkgconfig:$sysroot/usr/lib/$multiarch/pkgconfig" \
  PKG_CONFIG_SYSROOT_DIR=$sysroot consume_pc "$cxx" "$stagedlib"
