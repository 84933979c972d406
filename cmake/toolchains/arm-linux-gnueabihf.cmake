# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for 32-bit ARM Linux, EABI hard-float (armhf), the library's
# target, with Debian's g++-arm-linux-gnueabihf; tests under qemu-arm:
#   cmake -S . -B build/armhf \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
# scripts/test-arch armhf installs what it needs and runs the suite.
set(triple arm-linux-gnueabihf)
set(multiarch arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
