#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, component by component, and
# builds and runs an out-of-tree consumer against it with find_package and
# with pkg-config.
#   tests/install_test.sh BUILD_DIR [TOOLCHAIN_FILE EMULATOR]
# With a toolchain file (a cross build) the consumer is cross-compiled with
# find_package only, and run under the emulator.
set -euo pipefail
build=$(cd "$1" && pwd)
toolchain=${2:-}
emulator=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

fail() { echo "FAIL: $*" >&2; exit 1; }

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

echo "== installed vemlink"
# No rpath is installed: the libraries are found the way the system finds them.
frame=$(env LD_LIBRARY_PATH="$libdir" $emulator "$prefix/bin/vemlink" encode 616263) ||
  fail "vemlink does not run"
[ "$frame" = "7E 61 62 63 25 9E 7E" ] || fail "installed vemlink encodes 616263 as '$frame'"
echo "vemlink: ok"

echo "== consumer through find_package"
cross=()
[ -n "$toolchain" ] && cross=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
cmake -S "$here/consumer" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" "${cross[@]}" >/dev/null
cmake --build "$tmp/cmake-build" >/dev/null
$emulator "$tmp/cmake-build/consumer"
[ -z "$toolchain" ] || exit 0

echo "== consumer through pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
pkg-config --exists 'vemutils >= 0.1' || fail "pkg-config does not find vemutils"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$tmp/pc-consumer" "$here/consumer/main.cpp" $(pkg-config --cflags --libs vemutils)
LD_LIBRARY_PATH="$libdir" "$tmp/pc-consumer"
