// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_NULL_KEY_H
#define VEMUTILS_TEST_NULL_KEY_H

#include <gtest/gtest.h>

#include <stdexcept>

// Checks that lookup() throws the std::logic_error a null key must raise.
template <typename Lookup> void expectNullKeyError(Lookup lookup)
{
    try {
        lookup();
        ADD_FAILURE() << "a null key was accepted";
    } catch (const std::logic_error &e) {
        EXPECT_STREQ(e.what(), "basic_string: construction from null is not valid");
    }
}

#endif
