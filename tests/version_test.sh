#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# The version is set once, in project(); everything that repeats it must
# agree: the library's file name, the CMake package version file, vemutils.pc
# as installed, the newest entry of debian/changelog and the newest release
# in CHANGELOG.md.
#   tests/version_test.sh SOURCE_DIR BUILD_DIR LIBRARY_FILE VERSION
set -euo pipefail
src=$1 build=$2 lib=$3 version=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
check() { # WHAT FOUND
  if [ "$2" = "$version" ]; then
    echo "$1: $2"
  else
    echo "FAIL: $1 says '$2', project() says '$version'" >&2
    status=1
  fi
}

check "library file" "$(basename "$(readlink -f "$lib")" | sed -n 's/^libvemutils\.so\.//p')"
check "CMake package" "$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/vemutilsConfigVersion.cmake")"
cmake --install "$build" --prefix "$tmp" --component Development >/dev/null
check "vemutils.pc" "$(sed -n 's/^Version: //p' "$(find "$tmp" -name vemutils.pc)")"
check "debian/changelog" "$(sed -n '1s/^vemutils (\([^)]*\)).*/\1/p' "$src/debian/changelog")"
check "CHANGELOG.md" "$(grep -m1 -E '^## \[[0-9]' "$src/CHANGELOG.md" | sed 's/^## \[\([^]]*\)\].*/\1/')"
exit $status
