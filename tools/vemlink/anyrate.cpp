// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "anyrate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int setAnyRate(int fd, unsigned long baud)
{
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) < 0)
        return -1;
    // BOTHER: the rate is the number in c_ospeed. No input rate of its own
    // (CIBAUD 0): the input follows the output.
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER;
    tio.c_ospeed = static_cast<speed_t>(baud);
    tio.c_ispeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &tio);
}

long getAnyRate(int fd)
{
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) < 0)
        return -1;
    return static_cast<long>(tio.c_ospeed);
}
