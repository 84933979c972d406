# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for arm64 with Debian's g++-aarch64-linux-gnu, tests under qemu-aarch64:
#   cmake -S . -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
# scripts/test-arch arm64 installs what it needs and runs the suite.
set(triple aarch64-linux-gnu)
set(multiarch aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
