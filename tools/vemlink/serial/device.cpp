// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "serial/device.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

namespace {

// How long restoring a device's settings waits for its output to drain: a
// peer that holds the line (flow control) must not hang the end.
const int DRAIN_MS = 2000;

// True when nothing waits to go out: the driver's queue is empty and, where
// the driver tells (a UART), so is the transmitter itself. A pseudo-terminal
// has no transmitter and answers the second question with an error.
bool outputDrained(int fd)
{
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) < 0 || queued > 0)
        return queued <= 0;
    unsigned int lsr = 0;
    return ioctl(fd, TIOCSERGETLSR, &lsr) < 0 || (lsr & TIOCSER_TEMT) != 0;
}

} // namespace

int takeLinkOption(int argc, char **argv, int &i, LinkOptions &link, std::string &error)
{
    const char *value = nullptr;
    if (takeValue(argc, argv, i, "--device", value)) {
        if (value == nullptr || *value == '\0') {
            error = "--device needs a path";
            return -1;
        }
        link.device = value;
        return 1;
    }
    const int taken = takeLineOption(argc, argv, i, link.line, error);
    if (taken > 0)
        link.lineGiven = true;
    return taken;
}

Device::~Device()
{
    release(true);
}

void Device::release(bool restore)
{
    if (mFd < 0)
        return;
    if (restore && mSaved) {
        // The tail of the last write goes out at the rate it was meant for.
        // Only what a stuck peer still holds back after the wait is thrown
        // away: on a pseudo-terminal a flush would also take what the other
        // side has not read yet.
        bool drained = false;
        for (int waited = 0; !drained && waited < DRAIN_MS; waited += 10) {
            drained = outputDrained(mFd);
            if (!drained)
                usleep(10000);
        }
        if (!drained)
            tcflush(mFd, TCOFLUSH);
        tcsetattr(mFd, TCSANOW, &mOld);
    }
    if (mExclusive)
        ioctl(mFd, TIOCNXCL);
    ::close(mFd); // releases the flock too
    mFd = -1;
    mExclusive = false;
}

bool Device::open(const LinkOptions &link, std::string &error)
{
    mPath = link.device;
    mBusy = false;
    const std::string busy = mPath + " is in use by another program";
    mFd = ::open(link.device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mFd < 0) {
        // EBUSY: another program holds it in exclusive mode (TIOCEXCL).
        mBusy = errno == EBUSY;
        error = mBusy ? busy : "cannot open " + mPath + ": " + std::strerror(errno);
        return false;
    }
    // The lock terminal programs take; a second vemlink takes it too.
    if (flock(mFd, LOCK_EX | LOCK_NB) < 0) {
        mBusy = errno == EWOULDBLOCK;
        error = mBusy ? busy : "cannot lock " + mPath + ": " + std::strerror(errno);
        release(false);
        return false;
    }
    termios tio{};
    if (tcgetattr(mFd, &tio) < 0) {
        error = "cannot configure " + mPath + ": " + std::strerror(errno);
        release(false);
        return false;
    }
    if (!mSaved)
        mOld = tio;
    mSaved = true;
    // No further opens, except by root, while this one lasts.
    mExclusive = ioctl(mFd, TIOCEXCL) == 0;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(mFd, TCSANOW, &tio) < 0) {
        error = "cannot configure " + mPath + ": " + std::strerror(errno);
        release(true);
        return false;
    }
    if (!applyLine(mFd, link.device, link.line, error)) {
        release(true);
        return false;
    }
    return true;
}

bool Device::vanished() const
{
    struct stat st {};
    return mFd >= 0 && stat(mPath.c_str(), &st) < 0 && errno == ENOENT;
}

bool writeAll(int fd, const unsigned char *p, size_t n, const StopSignals &stop)
{
    while (n > 0) {
        if (stop.stopped()) {
            errno = EINTR;
            return false;
        }
        const ssize_t w = write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd out{fd, POLLOUT, 0};
        if (stop.wait(&out, 1, -1) < 0 && errno != EINTR)
            return false;
    }
    return true;
}
