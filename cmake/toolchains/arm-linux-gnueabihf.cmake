# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Cross build for 32-bit ARM Linux, EABI hard-float, with Debian's
# g++-arm-linux-gnueabihf. Test binaries run under qemu-arm (qemu-user);
# the armhf C and C++ runtimes and log4cpp come from Debian's multiarch
# armhf packages, so the emulated loader finds them in their usual places.
#
#   cmake -S . -B build/armhf \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(triple arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${triple})

# Search the target's multiarch folders for libraries and packages, and
# never pick up a host library by mistake.
set(CMAKE_FIND_ROOT_PATH /usr/${triple} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)

find_program(QEMU_ARM qemu-arm)
if(NOT QEMU_ARM)
  message(FATAL_ERROR "qemu-arm not found: install qemu-user (scripts/deps --cross)")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_ARM})
