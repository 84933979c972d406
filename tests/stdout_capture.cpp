// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "stdout_capture.h"

#include <stdexcept>

#include <unistd.h>

StdoutCapture::StdoutCapture() : mFile(std::tmpfile())
{
    if (mFile == nullptr)
        throw std::runtime_error("tmpfile failed");
    // Whatever was written before the capture belongs to the real stdout.
    std::fflush(stdout);
    mSaved = dup(1);
    dup2(fileno(mFile), 1);
}

StdoutCapture::~StdoutCapture()
{
    // Leftovers still buffered go to the capture file, not the terminal.
    std::fflush(stdout);
    dup2(mSaved, 1);
    close(mSaved);
    std::fclose(mFile);
}

std::string StdoutCapture::text() const
{
    std::string out;
    char buf[512];
    ssize_t n;
    for (off_t at = 0; (n = pread(fileno(mFile), buf, sizeof buf, at)) > 0; at += n)
        out.append(buf, static_cast<size_t>(n));
    return out;
}
