# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for i386 with Debian's g++-i686-linux-gnu, tests under qemu-i386:
#   cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-linux-gnu.cmake
# scripts/test-arch i386 installs what it needs and runs the suite.
set(triple i686-linux-gnu)
set(multiarch i386-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(qemu qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
