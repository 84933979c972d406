#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# cmake --install of the Python package: it lands in a folder the
# interpreter reads for its prefix, and imports from there with the
# installed libraries alone.
#   tests/python_install_test.sh BUILD_DIR PYTHON PREFIX PYDIR LIBDIR
set -euo pipefail
build=$1 python=$2 prefix=$3 pydir=$4 libdir=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for component in Runtime Python; do
  DESTDIR=$tmp cmake --install "$build" --component "$component" >/dev/null
done
site=$prefix/$pydir
"$python" -c 'import site, sys; sys.exit(sys.argv[1] not in site.getsitepackages())' "$site" ||
  fail "$site is not among $python's site folders: $("$python" -c 'import site; print(site.getsitepackages())')"
[ -f "$tmp$site/vemutils/__init__.py" ] || fail "no vemutils/__init__.py in $site"

# The build tree's libraries are out of reach: only the installed ones load.
cd "$tmp"
PYTHONPATH=$tmp$site LD_LIBRARY_PATH=$tmp$prefix/$libdir "$python" - "$tmp$site" <<'PY'
import sys
import vemutils
assert vemutils.__file__.startswith(sys.argv[1]), vemutils.__file__
assert vemutils.fcs(b"123456789") == 0x906E
assert vemutils.Framer().feed(bytes.fromhex("7E 61 62 63 25 9E 7E")) == [b"abc"]
PY
# The run path, relative to the extension, reaches the installed libraries
# alone: it imports with no LD_LIBRARY_PATH, and names no absolute folder.
# shellcheck disable=SC2016 # the literal $ORIGIN
readelf -d "$tmp$site"/vemutils/_vemutils*.so | grep -E 'RPATH|RUNPATH' | grep -v '\[\$ORIGIN' &&
  fail "the installed extension keeps an absolute run path"
PYTHONPATH=$tmp$site env -u LD_LIBRARY_PATH "$python" -c 'import vemutils; assert vemutils.fcs(b"123456789") == 0x906E' ||
  fail "the installed extension does not load without LD_LIBRARY_PATH"
echo "installed to $site: ok"
