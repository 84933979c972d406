// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "listing/output.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

bool Outlet::put(const void *data, size_t n, size_t extra)
{
    if (mError != 0)
        return false;
    if (mLive && mBuffer.size() - mDone + n > mBound + extra) {
        writeSome();
        if (mError != 0)
            return false;
        if (mBuffer.size() - mDone + n > mBound + extra) {
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

// One write that does not wait; -1 with EAGAIN when the descriptor has no
// room now.
ssize_t Outlet::writeNow(const char *p, size_t n)
{
    if (!mLive || mKind == DIRECT)
        return write(mFd, p, n);
    if (mKind == SOCKET)
        return send(mFd, p, n, MSG_DONTWAIT | MSG_NOSIGNAL);
    // A reader that went away shows as POLLERR (a pipe) or POLLHUP (a
    // terminal) without POLLOUT: the write then fails at once, telling why.
    pollfd out{mFd, POLLOUT, 0};
    if (poll(&out, 1, 0) <= 0 || (out.revents & (POLLOUT | POLLERR | POLLHUP)) == 0) {
        errno = EAGAIN;
        return -1;
    }
    return write(mFd, p, n < PIPE_BUF ? n : PIPE_BUF);
}

// Writes from the buffer what the descriptor takes without waiting.
void Outlet::writeSome()
{
    while (mError == 0 && mDone < mBuffer.size()) {
        const ssize_t n = writeNow(mBuffer.data() + mDone, mBuffer.size() - mDone);
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
Outlet gErr(STDERR_FILENO, LiveOutput::MESSAGES, 0);
const char *gCommand = nullptr; // the live command, for the first drop
bool gQuiet = false;

void goLive(Outlet &out, int fd)
{
    out.setLive(true);
    Outlet::Kind kind = Outlet::DIRECT;
    const int own = privateDescription(fd, kind);
    out.setFd(own, kind);
}

// Back to the inherited descriptor, the private one closed.
void goPlain(Outlet &out, int fd)
{
    if (out.fd() != fd)
        close(out.fd());
    out.setFd(fd);
    out.setLive(false);
}

void say(const char *command, const std::string &text)
{
    const std::string message = std::string("vemlink ") + command + ": " + text + "\n";
    if (gCommand == nullptr) {
        std::fputs(message.c_str(), stderr);
        return;
    }
    gErr.put(message.data(), message.size());
    gErr.flush();
}

} // namespace

namespace output {

void line(const std::string &text)
{
    if (!gOut.put(text.data(), text.size()) && gOut.error() == 0 && gOut.dropped() == 1)
        say(gCommand, "standard output fell behind; dropping listing lines "
                      "(the link is not affected)");
}

void closing(const std::string &text)
{
    gOut.put(text.data(), text.size(), LiveOutput::CLOSING);
}

void info(const char *command, const std::string &text)
{
    if (!gQuiet)
        say(command, text);
}

void error(const char *command, const std::string &text)
{
    say(command, text);
}

bool flush(int waitMs)
{
    gErr.flush(waitMs);
    return gOut.flush(waitMs);
}

int waiting()
{
    if (gOut.pending())
        return gOut.fd();
    return gErr.pending() ? gErr.fd() : -1;
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

int finish(const char *command, int waitMs)
{
    const std::string note =
        gOut.dropped() == 0
            ? std::string()
            : std::to_string(gOut.dropped()) + " lines not shown: standard output fell behind";
    if (!note.empty())
        closing(note + "\n");
    gOut.flush(waitMs);
    if (broken()) {
        const int status =
            failure(command, error() == EPIPE ? std::string("standard output was closed")
                                              : std::string("writing standard output: ") +
                                                    std::strerror(error()));
        gErr.flush(waitMs);
        return status;
    }
    if (!note.empty())
        say(command, note);
    if (gOut.pending())
        say(command, "standard output did not take the last lines");
    gErr.flush(waitMs);
    return STATUS_OK;
}

const char *live()
{
    return gCommand;
}

} // namespace output

LiveOutput::LiveOutput(const char *command, bool quiet)
{
    std::fflush(stdout);
    std::fflush(stderr);
    gCommand = command;
    gQuiet = quiet;
    goLive(gOut, STDOUT_FILENO);
    goLive(gErr, STDERR_FILENO);
}

LiveOutput::~LiveOutput()
{
    goPlain(gOut, STDOUT_FILENO);
    goPlain(gErr, STDERR_FILENO);
    gCommand = nullptr;
    gQuiet = false;
}

int privateDescription(int fd, Outlet::Kind &kind)
{
    struct stat st {};
    kind = Outlet::DIRECT;
    if (fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
        return fd;
    if (fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) {
        kind = Outlet::SOCKET;
        return fd;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int own = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own >= 0)
        return own;
    kind = Outlet::SHARED;
    return fd;
}

void guardStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // open() takes the lowest free descriptor: this one.
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd)
            close(null);
    }
}
