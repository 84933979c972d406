// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "device.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli.h"

namespace {

struct Rate {
    long baud;
    speed_t speed;
};

// The standard rates the serial drivers take, from 1200 to 4 Mbaud.
const Rate RATES[] = {
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

const Rate *findRate(long baud)
{
    for (const Rate &r : RATES)
        if (r.baud == baud)
            return &r;
    return nullptr;
}

// Usage texts keep to this many columns.
const size_t USAGE_WIDTH = 78;

// How long restoring a device's settings waits for its output to drain: a
// peer that holds the line (flow control) must not hang the end.
const int DRAIN_MS = 2000;

// The signals that end a live command in order.
const int STOPS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t gStop = 0;

void onStop(int)
{
    gStop = 1;
}

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

std::string withRates(const char *text)
{
    static const std::string MARK = "{RATES}";
    std::string out = text;
    const size_t at = out.find(MARK);
    if (at == std::string::npos)
        return out;
    const size_t lineStart = out.rfind('\n', at) + 1; // npos + 1 is 0
    const std::string indent(at - lineStart, ' ');
    std::string rates;
    std::string line = indent;
    for (const Rate &r : RATES) {
        const std::string word = std::to_string(r.baud);
        if (line.size() > indent.size() && line.size() + 1 + word.size() > USAGE_WIDTH) {
            rates += line + "\n";
            line = indent;
        }
        line += (line.size() > indent.size() ? " " : "") + word;
    }
    rates += line;
    out.replace(lineStart, at + MARK.size() - lineStart, rates);
    return out;
}

std::string acceptedRates()
{
    std::string list;
    for (const Rate &r : RATES)
        list += (list.empty() ? "" : " ") + std::to_string(r.baud);
    return list;
}

int takeLinkOption(int argc, char **argv, int &i, LinkOptions &link, std::string &error)
{
    const char *value = nullptr;
    if (std::strcmp(argv[i], "--rtscts") == 0) {
        link.rtscts = true;
        return 1;
    }
    if (takeValue(argc, argv, i, "--device", value)) {
        if (value == nullptr || *value == '\0') {
            error = "--device needs a path";
            return -1;
        }
        link.device = value;
        return 1;
    }
    if (takeValue(argc, argv, i, "--baud", value)) {
        if (value == nullptr) {
            error = "--baud needs a rate";
            return -1;
        }
        char *end = nullptr;
        errno = 0;
        const long baud = std::strtol(value, &end, 10);
        if (*value < '0' || *value > '9' || *end != '\0' || errno != 0 ||
            findRate(baud) == nullptr) {
            error = std::string("unsupported rate '") + value + "'; use one of " + acceptedRates();
            return -1;
        }
        link.baud = baud;
        return 1;
    }
    return 0;
}

Device::~Device()
{
    if (mFd < 0)
        return;
    if (mSaved) {
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
    close(mFd); // releases the flock too
}

bool Device::open(const LinkOptions &link, std::string &error)
{
    const std::string path = link.device;
    const std::string busy = path + " is in use by another program";
    mFd = ::open(link.device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mFd < 0) {
        // EBUSY: another program holds it in exclusive mode (TIOCEXCL).
        error = errno == EBUSY ? busy : "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    // The lock terminal programs take; a second vemlink takes it too.
    if (flock(mFd, LOCK_EX | LOCK_NB) < 0) {
        error = errno == EWOULDBLOCK ? busy : "cannot lock " + path + ": " + std::strerror(errno);
        return false;
    }
    termios tio{};
    if (tcgetattr(mFd, &mOld) < 0) {
        error = "cannot configure " + path + ": " + std::strerror(errno);
        return false;
    }
    mSaved = true;
    // No further opens, except by root, while this one lasts.
    mExclusive = ioctl(mFd, TIOCEXCL) == 0;
    tio = mOld;
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXOFF | IXANY);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD | (link.rtscts ? CRTSCTS : 0);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = findRate(link.baud)->speed;
    if (cfsetispeed(&tio, speed) < 0 || cfsetospeed(&tio, speed) < 0 ||
        tcsetattr(mFd, TCSANOW, &tio) < 0) {
        error = "cannot configure " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

StopSignals::StopSignals()
{
    gStop = 0;
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocking call returns EINTR
    sigset_t block;
    sigemptyset(&block);
    for (size_t i = 0; i < NSTOPS; ++i) {
        sigaction(STOPS[i], &sa, &mOld[i]);
        sigaddset(&block, STOPS[i]);
    }
    // A reader of the listing that goes away shows as EPIPE, not as death.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &mOldPipe);
    sigprocmask(SIG_BLOCK, &block, &mOldMask);
}

StopSignals::~StopSignals()
{
    sigprocmask(SIG_SETMASK, &mOldMask, nullptr);
    for (size_t i = 0; i < NSTOPS; ++i)
        sigaction(STOPS[i], &mOld[i], nullptr);
    sigaction(SIGPIPE, &mOldPipe, nullptr);
}

bool StopSignals::stopped() const
{
    return gStop != 0;
}

int StopSignals::wait(pollfd *fds, nfds_t n, int timeoutMs) const
{
    sigset_t open = mOldMask;
    for (const int s : STOPS)
        sigdelset(&open, s);
    timespec limit{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000};
    return ppoll(fds, n, timeoutMs < 0 ? nullptr : &limit, &open);
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
