// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_CORE_CHILD_H
#define VEMUTILS_TEST_CORE_CHILD_H

// Checks that change what belongs to the whole process (signal dispositions
// and mask) or that could hang on a fault run in a child of their own.
#include <functional>
#include <string>

// Runs check in a forked child and returns what it found wrong: its own
// text, or how the child died; "" when it passed. With guardSeconds, an
// alarm ends a child that hangs (a write that blocks), which comes back as
// killed by SIGALRM.
std::string inChild(const std::function<std::string()> &check, unsigned guardSeconds = 0);

#endif
