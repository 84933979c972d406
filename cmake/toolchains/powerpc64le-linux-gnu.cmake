# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for ppc64el with Debian's g++-powerpc64le-linux-gnu, tests under qemu-ppc64le:
#   cmake -S . -B build/ppc64el -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/powerpc64le-linux-gnu.cmake
# scripts/test-arch ppc64el installs what it needs and runs the suite.
set(triple powerpc64le-linux-gnu)
set(multiarch powerpc64le-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(qemu qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
