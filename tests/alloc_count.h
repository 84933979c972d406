// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_ALLOC_COUNT_H
#define VEMUTILS_TEST_ALLOC_COUNT_H

// The test binary's global operator new counts its calls while enabled, so a
// test can show that a stretch of code allocates nothing.
namespace allocCount {
extern bool enabled;
long calls();
} // namespace allocCount

#endif
