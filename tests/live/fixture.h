// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_LIVE_FIXTURE_H
#define VEMUTILS_TEST_LIVE_FIXTURE_H

// The fixture of the live tests: a temporary folder, and the steps most
// tests take with a running command (its start, the application's end, the
// listing's rows), checked as they go.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "temp_dir.h"

namespace live {

class Live : public ::testing::Test {
public:
    TempDir dir;

    std::string path(const std::string &name) const { return dir.path() + "/" + name; }
};

// The application's end a tap announced; "" (and a failure) if none.
std::string startTap(Child &tap, const std::string &what);
// Opens the application's end, non-blocking; -1 (and a failure) if not.
int openApp(const std::string &path);
// Waits for text in the command's standard output.
bool listed(const Child &run, const std::string &text);
// Waits for text on the command's standard error.
bool said(Child &run, const std::string &text, int ms = START_MS);
// Waits until a monitor has said it started (or has ended).
bool monitorStarted(Child &run);
// The frame lines of one direction of a listing with times (mark '>' or
// '<', or ' ' for decode --time), without the time and direction columns,
// checked for their form and for times that never go back.
std::vector<std::string> rowsOf(const std::string &listing, char mark);

} // namespace live

#endif
