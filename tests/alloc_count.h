// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_ALLOC_COUNT_H
#define VEMUTILS_TEST_ALLOC_COUNT_H

// The test binary's global operator new counts its calls while enabled, so a
// test can show that a stretch of code allocates nothing. operator new[]
// also records the size it was last asked for, so a test can show that an
// array is exactly as large as its contents.
#include <cstddef>

namespace allocCount {
extern bool enabled;
long calls();
std::size_t lastArrayBytes();
} // namespace allocCount

#endif
