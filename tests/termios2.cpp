// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

long termios2Rate(int fd)
{
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) < 0)
        return -1;
    return static_cast<long>(tio.c_ospeed);
}
