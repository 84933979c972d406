// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_ANYRATE_H
#define VEMLINK_ANYRATE_H

// Rates outside the B-constants of <termios.h>, through Linux's termios2
// (TCGETS2, TCSETS2, BOTHER; on powerpc the kernel's termios with TCGETS
// and TCSETS). Its header clashes with <termios.h>, so it
// lives alone in anyrate.cpp; these two calls are all the rest sees.

// Sets fd's input and output rate to baud, leaving every other setting as
// it is. 0, or -1 with errno (ENOSYS or ENOTTY where termios2 is missing,
// for example under an emulator that does not translate it).
int setAnyRate(int fd, unsigned long baud);

// fd's output rate in baud, whatever it is; -1 with errno when termios2
// cannot read it.
long getAnyRate(int fd);

#endif
