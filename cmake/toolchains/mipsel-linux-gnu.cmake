# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for mipsel with Debian's g++-mipsel-linux-gnu, tests under qemu-mipsel:
#   cmake -S . -B build/mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel-linux-gnu.cmake
# scripts/test-arch mipsel installs what it needs and runs the suite.
set(triple mipsel-linux-gnu)
set(multiarch mipsel-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(qemu qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
