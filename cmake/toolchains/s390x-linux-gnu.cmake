# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for s390x with Debian's g++-s390x-linux-gnu, tests under qemu-s390x:
#   cmake -S . -B build/s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x-linux-gnu.cmake
# scripts/test-arch s390x installs what it needs and runs the suite.
set(triple s390x-linux-gnu)
set(multiarch s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(qemu qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
