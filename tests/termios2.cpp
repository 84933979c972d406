// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

long termios2Rate(int fd)
{
    // termios2 where the machine has it; on powerpc the kernel's own
    // termios holds the rate as a number and TCGETS reads it.
#ifdef TCGETS2
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) < 0)
        return -1;
#else
    termios tio{};
    if (ioctl(fd, TCGETS, &tio) < 0)
        return -1;
#endif
    return static_cast<long>(tio.c_ospeed);
}
