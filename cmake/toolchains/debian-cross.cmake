# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Shared part of the cross toolchain files beside it: Debian's cross g++ for
# one architecture (set by the including file: triple, multiarch folder,
# CMAKE_SYSTEM_PROCESSOR and the qemu-user program). The target's C and C++
# runtimes, log4cpp and GoogleTest come from Debian's multiarch packages of
# that architecture, so the emulated loader finds them in their usual places
# and test binaries run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${multiarch})

# Search the target's multiarch folders for libraries and packages, and
# never pick up a host library by mistake.
set(CMAKE_FIND_ROOT_PATH /usr/${triple} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)

find_program(VEMUTILS_QEMU ${qemu})
if(NOT VEMUTILS_QEMU)
  message(FATAL_ERROR "${qemu} not found: install qemu-user")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${VEMUTILS_QEMU})
