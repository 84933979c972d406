#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Builds the Debian packages and uses them the way a target would:
#   - native packages (scripts/package --nocheck: the suite has run already),
#     unpacked with dpkg -x into a temporary root: contents, relations and
#     versions, the Python module imported from that root, then a consumer
#     built and run against that root through find_package and through
#     pkg-config;
#   - armhf packages (scripts/package --arch armhf), unpacked into a second
#     root: the packaged vemlink run under qemu-arm, finding the packaged
#     libraries at their real paths (-L root), logging with the packaged
#     sample configuration.
#   tests/package_test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -n 's/^project(vemutils VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
pkgs=(libvemutils0 libvemlog0 libvemutils-dev vemlink)

# no_run_path DEB: none of the package's ELF files carries an RPATH or a
# RUNPATH (the libraries are where the system looks; lintian flags one).
no_run_path() {
  local x=$tmp/no-run-path f
  rm -rf "$x"
  dpkg -x "$1" "$x"
  while IFS= read -r -d '' f; do
    [ "$(head -c4 "$f" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || continue
    ! readelf -d "$f" | grep -E 'RPATH|RUNPATH' || fail "$1: ${f#"$x"/} has a run path"
  done < <(find "$x" -type f -print0)
}

# unpack ARCH DIR: checks each package of ARCH and unpacks it into DIR.
unpack() {
  local arch=$1 dir=$2 deb multiarch
  multiarch=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
  for p in "${pkgs[@]}"; do
    deb=build/packages/${p}_${version}_$arch.deb
    [ -f "$deb" ] || fail "$deb missing"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb: version $(dpkg-deb -f "$deb" Version)"
    # What each package holds, apart from its documentation folder.
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' | grep -v -e '^$' -e '/$' -e '^usr/share/doc/' |
      sed "s|$multiarch|MA|" | sort >"$tmp/$p.list"
    dpkg -x "$deb" "$dir"
    no_run_path "$deb"
  done
  diff -u - "$tmp/libvemutils0.list" <<<$'usr/lib/MA/libvemutils.so.0\nusr/lib/MA/libvemutils.so.0.1.0' ||
    fail "libvemutils0 ($arch) contents"
  diff -u - "$tmp/libvemlog0.list" <<<$'usr/lib/MA/libvemlog.so.0\nusr/lib/MA/libvemlog.so.0.1.0' ||
    fail "libvemlog0 ($arch) contents"
  # vemlink, its man page, and its parts for Wireshark: the extcap entry and
  # the dissector in the global folders of Debian's Wireshark.
  diff -u - "$tmp/vemlink.list" <<<$'usr/bin/vemlink\nusr/lib/MA/wireshark/extcap/vemlink\nusr/lib/MA/wireshark/plugins/vemlink.lua\nusr/share/bash-completion/completions/vemlink\nusr/share/man/man1/vemlink.1.gz' ||
    fail "vemlink ($arch) contents"
  for f in usr/include/vemutils/hdlc.h usr/include/vemutils/vemlog.h usr/lib/MA/libvemutils.so \
    usr/lib/MA/libvemlog.so usr/lib/MA/pkgconfig/vemutils.pc usr/lib/MA/cmake/vemutils/vemutilsConfig.cmake; do
    grep -qx "$f" "$tmp/libvemutils-dev.list" || fail "libvemutils-dev ($arch) lacks $f"
  done
  # The relations dpkg-shlibdeps cannot see: libvemutils.so.0 needs the host
  # logger and log4cpp, which it does not link.
  local deps
  deps=$(dpkg-deb -f "build/packages/libvemutils0_${version}_$arch.deb" Depends)
  [[ "$deps" == *"libvemlog0 (= $version)"* && "$deps" == *liblog4cpp5v5* ]] ||
    fail "libvemutils0 ($arch) Depends: $deps"
  deps=$(dpkg-deb -f "build/packages/libvemutils-dev_${version}_$arch.deb" Depends)
  [[ "$deps" == *"libvemutils0 (= $version)"* && "$deps" == *"libvemlog0 (= $version)"* &&
    "$deps" == *liblog4cpp5-dev* ]] || fail "libvemutils-dev ($arch) Depends: $deps"
}

echo "== native packages"
scripts/package --nocheck >"$tmp/package.log" 2>&1 || { cat "$tmp/package.log"; fail "scripts/package"; }
grep -A20 '^== lintian' "$tmp/package.log"
native=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
unpack "$native" "$tmp/root"
libdir=$tmp/root/usr/lib/$multiarch

echo "== python3-vemutils (native only), imported from the unpacked packages"
deb=build/packages/python3-vemutils_${version}_$native.deb
[ -f "$deb" ] || fail "$deb missing"
no_run_path "$deb"
deps=$(dpkg-deb -f "$deb" Depends)
[[ "$deps" == *"libvemutils0 (= $version)"* && "$deps" == *"python3 (>= 3."* && "$deps" == *python3-serial* ]] ||
  fail "python3-vemutils Depends: $deps"
dpkg -x "$deb" "$tmp/root"
PYTHONPATH=$tmp/root/usr/lib/python3/dist-packages LD_LIBRARY_PATH=$libdir /usr/bin/python3 -c '
import sys, vemutils
assert vemutils.__file__.startswith(sys.argv[1]), vemutils.__file__
assert vemutils.Framer().feed(vemutils.Framer().frame(b"abc")) == [b"abc"]
print("python3-vemutils: ok")' "$tmp/root/usr/lib/python3/dist-packages" || fail "python3-vemutils does not import"

echo "== the packaged Wireshark parts: the extcap entry runs the packaged vemlink"
LD_LIBRARY_PATH=$libdir "$tmp/root/usr/lib/$multiarch/wireshark/extcap/vemlink" --extcap-interfaces |
  grep -qx 'interface {value=vemlink}{display=vemlink: frames of an HDLC-like serial link}' ||
  fail "the packaged extcap entry does not answer --extcap-interfaces"
if command -v tshark >/dev/null; then
  printf '\x7e\x61\x62\x63\x25\x9e\x7e' |
    LD_LIBRARY_PATH=$libdir "$tmp/root/usr/bin/vemlink" decode --pcap "$tmp/abc.pcapng" >/dev/null
  read -r status payload < <(tshark -r "$tmp/abc.pcapng" -T fields -e vemlink.status -e vemlink.payload \
    -X lua_script:"$tmp/root/usr/lib/$multiarch/wireshark/plugins/vemlink.lua" 2>/dev/null)
  [ "$status $payload" = "ok 616263" ] || fail "the packaged dissector shows '$status $payload'"
fi

echo "== consumer through find_package, against the unpacked packages"
cmake -S tests/consumer -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$tmp/root/usr" >/dev/null
cmake --build "$tmp/cmake-build" >/dev/null
LD_LIBRARY_PATH=$libdir "$tmp/cmake-build/consumer"

echo "== consumer through pkg-config, against the unpacked packages"
export PKG_CONFIG_SYSROOT_DIR=$tmp/root
export PKG_CONFIG_LIBDIR=$libdir/pkgconfig:/usr/lib/$multiarch/pkgconfig:/usr/share/pkgconfig
[ "$(pkg-config --modversion vemutils)" = "$version" ] || fail "vemutils.pc version"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$tmp/pc-consumer" tests/consumer/main.cpp $(pkg-config --cflags --libs vemutils)
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR
LD_LIBRARY_PATH=$libdir "$tmp/pc-consumer"

echo "== armhf packages"
scripts/package --arch armhf >"$tmp/package-armhf.log" 2>&1 ||
  { cat "$tmp/package-armhf.log"; fail "scripts/package --arch armhf"; }
grep -A20 '^== lintian' "$tmp/package-armhf.log"
unpack armhf "$tmp/armroot"
# The loader and the C++ runtime come from the host's armhf multiarch
# packages; qemu-arm looks in the root first, so the packaged libraries are
# found at /usr/lib/arm-linux-gnueabihf like on a target.
qemu=(qemu-arm -L "$tmp/armroot")
frame=$("${qemu[@]}" "$tmp/armroot/usr/bin/vemlink" encode 61 62 63) || fail "armhf vemlink does not run"
[ "$frame" = "7E 61 62 63 25 9E 7E" ] || fail "armhf vemlink encodes 616263 as '$frame'"
cat >"$tmp/demo.conf" <<CONF
demo.packets=200
demo.errors_per_million=200
log.config=$tmp/armroot/usr/share/doc/libvemutils-dev/examples/log4cpp.properties
CONF
"${qemu[@]}" "$tmp/armroot/usr/bin/vemlink" demo --config "$tmp/demo.conf" >"$tmp/demo.out" 2>"$tmp/demo.err" ||
  { cat "$tmp/demo.out" "$tmp/demo.err"; fail "armhf vemlink demo"; }
grep -q '^result: ok' "$tmp/demo.out" || fail "armhf demo: $(cat "$tmp/demo.out")"
grep -q 'cHDLCFramer' "$tmp/demo.out" && fail "log lines on standard output"
grep -q 'INFO  \[cHDLCFramer\] Creating Framer$' "$tmp/demo.err" || fail "no log line on standard error"
echo "armhf vemlink: ok"
