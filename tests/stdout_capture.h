// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_STDOUT_CAPTURE_H
#define VEMUTILS_TEST_STDOUT_CAPTURE_H

#include <cstdio>
#include <string>

// Points file descriptor 1 at a temporary file while the object lives.
// text() returns what has reached the descriptor so far, without flushing
// stdio or std::cout first: output left sitting in a buffer does not count,
// so a test can tell that the code under test flushed its message (when
// stdout is not a terminal; on one, stdio flushes at every newline anyway).
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    std::string text() const;

private:
    std::FILE *mFile; // the temporary file, removed when closed
    int mSaved;       // the original descriptor 1
};

// Runs f with stdout captured and returns what it printed. Test failures
// reported after the call are not swallowed by the capture.
template <typename F> std::string printedBy(F f)
{
    StdoutCapture out;
    f();
    return out.text();
}

#endif
