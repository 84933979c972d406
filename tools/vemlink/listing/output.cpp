// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "listing/output.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "cli.h"

bool Outlet::put(const void *data, size_t n)
{
    if (mError != 0)
        return false;
    if (mLive && mBuffer.size() - mDone + n > mBound) {
        writeSome();
        if (mError != 0)
            return false;
        if (mBuffer.size() - mDone + n > mBound) {
            ++mDropped;
            return false;
        }
    }
    // Keep the buffer from creeping: move the unwritten rest to the front.
    if (mDone > 0 && mDone >= mBuffer.size() / 2) {
        mBuffer.erase(0, mDone);
        mDone = 0;
    }
    mBuffer.append(static_cast<const char *>(data), n);
    if (mBuffer.size() - mDone >= mChunk)
        flush();
    return mError == 0;
}

bool Outlet::flush(int waitMs)
{
    const auto start = std::chrono::steady_clock::now();
    writeSome();
    while (pending()) {
        int wait = -1; // plain: as long as the reader takes
        if (mLive) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            if (spent >= waitMs)
                break;
            wait = static_cast<int>(waitMs - spent);
        }
        pollfd out{mFd, POLLOUT, 0};
        poll(&out, 1, wait);
        writeSome();
    }
    return mError == 0;
}

// Writes from the buffer what the descriptor takes without waiting.
void Outlet::writeSome()
{
    while (mError == 0 && mDone < mBuffer.size()) {
        const ssize_t n = write(mFd, mBuffer.data() + mDone, mBuffer.size() - mDone);
        if (n > 0)
            mDone += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno == EAGAIN)
            break;
        else
            mError = n < 0 ? errno : EIO;
    }
    if (mDone == mBuffer.size() || mError != 0) {
        mBuffer.clear();
        mDone = 0;
    }
}

namespace {

// Plain, lines go out in chunks of this size, as stdio would write them.
const size_t PLAIN_CHUNK = 65536;
Outlet gOut(STDOUT_FILENO, LiveOutput::BOUND, PLAIN_CHUNK);
const char *gCommand = nullptr; // the live command, for the first drop

} // namespace

namespace output {

void line(const std::string &text)
{
    if (!gOut.put(text.data(), text.size()) && gOut.error() == 0 && gOut.dropped() == 1)
        std::fprintf(stderr,
                     "vemlink %s: standard output fell behind; dropping listing lines "
                     "(the link is not affected)\n",
                     gCommand);
}

bool flush(int waitMs)
{
    return gOut.flush(waitMs);
}

bool pending()
{
    return gOut.pending();
}

bool broken()
{
    return gOut.error() != 0;
}

int error()
{
    return gOut.error();
}

long dropped()
{
    return gOut.dropped();
}

std::string droppedLine()
{
    if (gOut.dropped() == 0)
        return "";
    return std::to_string(gOut.dropped()) + " lines not shown: standard output fell behind\n";
}

int finish(const char *command, int waitMs)
{
    const std::string note = droppedLine();
    if (!note.empty())
        line(note);
    flush(waitMs);
    if (broken())
        return failure(command, error() == EPIPE ? std::string("standard output was closed")
                                                 : std::string("writing standard output: ") +
                                                       std::strerror(error()));
    if (!note.empty())
        std::fprintf(stderr, "vemlink %s: %s", command, note.c_str());
    if (pending())
        std::fprintf(stderr, "vemlink %s: standard output did not take the last lines\n", command);
    return STATUS_OK;
}

const char *live()
{
    return gCommand;
}

} // namespace output

LiveOutput::LiveOutput(const char *command) : mOldFlags(fcntl(STDOUT_FILENO, F_GETFL))
{
    std::fflush(stdout);
    gCommand = command;
    gOut.setLive(true);
    if (mOldFlags >= 0)
        fcntl(STDOUT_FILENO, F_SETFL, mOldFlags | O_NONBLOCK);
}

LiveOutput::~LiveOutput()
{
    if (mOldFlags >= 0)
        fcntl(STDOUT_FILENO, F_SETFL, mOldFlags);
    gOut.setLive(false);
    gCommand = nullptr;
}
