# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for armel with Debian's g++-arm-linux-gnueabi, tests under qemu-arm:
#   cmake -S . -B build/armel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabi.cmake
# scripts/test-arch armel installs what it needs and runs the suite.
set(triple arm-linux-gnueabi)
set(multiarch arm-linux-gnueabi)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
