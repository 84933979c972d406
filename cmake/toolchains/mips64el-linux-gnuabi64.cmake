# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for mips64el with Debian's g++-mips64el-linux-gnuabi64, tests under qemu-mips64el:
#   cmake -S . -B build/mips64el -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mips64el-linux-gnuabi64.cmake
# scripts/test-arch mips64el installs what it needs and runs the suite.
set(triple mips64el-linux-gnuabi64)
set(multiarch mips64el-linux-gnuabi64)
set(CMAKE_SYSTEM_PROCESSOR mips64)
set(qemu qemu-mips64el)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
