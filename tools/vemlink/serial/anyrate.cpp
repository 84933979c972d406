// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "serial/anyrate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace {

// The kernel's terminal settings with the rates as numbers. Most machines
// have termios2 with TCGETS2 and TCSETS2 for this; on powerpc the kernel's
// own termios (from <asm/termbits.h>, not the C library's) carries c_ispeed
// and c_ospeed already, through TCGETS and TCSETS.
#ifdef TCGETS2
using KernelTermios = termios2;
const unsigned long GET_SETTINGS = TCGETS2;
const unsigned long SET_SETTINGS = TCSETS2;
#else
using KernelTermios = termios;
const unsigned long GET_SETTINGS = TCGETS;
const unsigned long SET_SETTINGS = TCSETS;
#endif

} // namespace

int setAnyRate(int fd, unsigned long baud)
{
    KernelTermios tio{};
    if (ioctl(fd, GET_SETTINGS, &tio) < 0)
        return -1;
    // BOTHER: the rate is the number in c_ospeed. No input rate of its own
    // (CIBAUD 0): the input follows the output.
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER;
    tio.c_ospeed = static_cast<speed_t>(baud);
    tio.c_ispeed = static_cast<speed_t>(baud);
    return ioctl(fd, SET_SETTINGS, &tio);
}

long getAnyRate(int fd)
{
    KernelTermios tio{};
    if (ioctl(fd, GET_SETTINGS, &tio) < 0)
        return -1;
    return static_cast<long>(tio.c_ospeed);
}
