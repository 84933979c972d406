// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_TERMIOS2_H
#define TESTS_TERMIOS2_H

// A terminal's output rate as Linux's termios2 holds it (TCGETS2; on powerpc
// the kernel's termios, TCGETS), any rate included. Its header clashes with <termios.h>, hence this file of its own.
// -1 with errno when termios2 is not there (ENOSYS under an emulator that
// does not translate it).
long termios2Rate(int fd);

#endif
