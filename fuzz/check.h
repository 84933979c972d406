// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_FUZZ_CHECK_H
#define VEMUTILS_FUZZ_CHECK_H

#include <cstdlib>

// A property that must hold for every input: abort, so libFuzzer keeps the input.
#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond))                                                                               \
            std::abort();                                                                          \
    } while (0)

#endif
