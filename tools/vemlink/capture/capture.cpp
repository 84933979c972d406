// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "capture/capture.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "listing/output.h"

namespace {

using pcapng::DISSECTOR;
using pcapng::EXP_PDU_TAG_DISSECTOR_NAME;
using pcapng::LINKTYPE_WIRESHARK_UPPER_PDU;
const size_t TAGS = 4 + sizeof DISSECTOR + 4; // the name, end of tags
const size_t HEADER = pcapng::RECORD_HEADER;

unsigned long long wallMicros()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000000u +
           static_cast<unsigned long long>(now.tv_nsec / 1000);
}

void putBig(std::vector<unsigned char> &out, unsigned long long v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// How often a FIFO nobody reads yet is tried again.
const int FIFO_RETRY_MS = 100;

// Opens an existing FIFO at path for writing, set non-blocking, once a
// reader has it open: only one that the user owns, never through a
// symbolic link, and the very one looked at. Waits for the reader until a
// stop signal comes (-1, errno EINTR).
int openFifo(const char *path, const struct stat &seen, const StopSignals &stop)
{
    if (seen.st_uid != geteuid()) {
        errno = EPERM;
        return -1;
    }
    for (;;) {
        const int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st {};
            if (fstat(fd, &st) == 0 && st.st_dev == seen.st_dev && st.st_ino == seen.st_ino)
                return fd;
            close(fd);
            errno = EPERM;
            return -1;
        }
        if (errno != ENXIO) // ENXIO: no reader yet
            return -1;
        stop.pause(FIFO_RETRY_MS);
        if (stop.stopped()) {
            errno = EINTR;
            return -1;
        }
    }
}

// The pcapng link-layer error bits for a frame: a failed check, a run too
// long, a frame cut off by the end; a lone escape is a symbol error.
uint32_t linkErrors(const WireFrame &f)
{
    switch (f.outcome) {
    case frame::Outcome::OK:
        break;
    case frame::Outcome::CRC_ERROR:
        return PCAPNG_CRC_ERROR;
    case frame::Outcome::DROPPED:
        return f.tooLong ? PCAPNG_TOO_LONG : PCAPNG_SYMBOL_ERROR;
    case frame::Outcome::PARTIAL:
        return PCAPNG_TOO_SHORT;
    }
    return 0;
}

} // namespace

class Capture::Sink : public FrameSink {
public:
    Sink(Capture &capture, char mark) : mCapture(capture), mMark(mark) {}
    void arrived() override { mTime = wallMicros(); }
    void frame(const WireFrame &f) override
    {
        if (mTime == 0) // a lister that never said when it read
            mTime = wallMicros();
        mCapture.record(mMark, mTime, f);
    }

private:
    Capture &mCapture;
    const char mMark;
    unsigned long long mTime = 0;
};

Capture::Capture() = default;

Capture::~Capture()
{
    if (mOut.fd() < 0)
        return;
    close(mOut.fd());
}

// The capture takes standard output, through a description of its own;
// the listing moves to standard error.
int Capture::takeStdout(Outlet::Kind &kind)
{
    std::fflush(stdout);
    int fd = privateDescription(STDOUT_FILENO, kind);
    if (fd == STDOUT_FILENO)
        fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

// A new file, owner-only, never over an existing one or through a symbolic
// link; or an existing FIFO (an extcap's) that passes openFifo's checks.
int Capture::openPath(const char *path, const StopSignals &stop)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    mCreated = fd >= 0;
    if (fd >= 0 || errno != EEXIST)
        return fd;
    struct stat st {};
    if (lstat(path, &st) == 0 && S_ISFIFO(st.st_mode))
        return openFifo(path, st, stop);
    errno = S_ISLNK(st.st_mode) ? ELOOP : EEXIST;
    return -1;
}

// Why openPath failed, in words that name the rule.
std::string Capture::openError(int error) const
{
    switch (error) {
    case ELOOP:
        return "it is a symbolic link, which a capture never follows";
    case EPERM:
        return "it is a FIFO of another user";
    default:
        return std::strerror(error);
    }
}

bool Capture::open(const char *path, const std::string &name, const StopSignals &stop,
                   std::string &error)
{
    mToStdout = std::strcmp(path, "-") == 0;
    mPath = mToStdout ? "standard output" : path;
    Outlet::Kind kind = Outlet::DIRECT;
    const int fd = mToStdout ? takeStdout(kind) : openPath(path, stop);
    if (fd < 0) {
        error = "cannot write " + mPath + ": " + openError(errno);
        return false;
    }
    mOut.setFd(fd, kind);
    struct stat st {};
    // Not a regular file: may go live. Plain writes wait for room in
    // Outlet::flush.
    mStream = fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
    // A reader that goes away (Wireshark closed) is a write error to
    // report, not a signal that ends the command.
    std::signal(SIGPIPE, SIG_IGN);
    mWriter = std::make_unique<PcapngWriter>(mOut);
    if (!mWriter->start(LINKTYPE_WIRESHARK_UPPER_PDU, name, "vemlink " VEMLINK_VERSION, mComment)) {
        error = "cannot write " + mPath + ": " + std::strerror(mOut.error());
        discard();
        return false;
    }
    return true;
}

void Capture::goLive(const char *command)
{
    mLiveCommand = command;
    mOut.setLive(mStream);
}

bool Capture::readerGone() const
{
    if (!mStream || mOut.fd() < 0)
        return false;
    pollfd out{mOut.fd(), POLLOUT, 0};
    return poll(&out, 1, 0) > 0 && (out.revents & POLLERR) != 0;
}

void Capture::discard()
{
    mWriter.reset();
    if (mCreated)
        unlink(mPath.c_str());
    mCreated = false;
}

void Capture::flush()
{
    if (active() && mError.empty()) {
        mOut.flush();
        checkFailed();
    }
}

// Turns a failed write into the capture's error, said at once while the
// command is live.
void Capture::checkFailed()
{
    if (mOut.error() == 0 || !mError.empty())
        return;
    mError = "writing " + mPath + ": " + std::strerror(mOut.error());
    if (mLiveCommand != nullptr) {
        output::error(mLiveCommand, mError + "; capture stopped (the link is not affected)");
        mSaid = true;
    }
}

int Capture::finish(const char *command, int waitMs)
{
    if (!active())
        return STATUS_OK;
    mOut.flush(waitMs);
    checkFailed();
    if (!mError.empty())
        return mSaid ? STATUS_FAILED : failure(command, mError);
    if (mOut.dropped() > 0) {
        const std::string note = std::to_string(mOut.dropped()) +
                                 " frames not captured: the capture's reader fell behind\n";
        output::closing(note);
        // With "-" the listing is standard error already.
        if (!mToStdout)
            output::info(command, note.substr(0, note.size() - 1));
    }
    if (mOut.pending())
        output::info(command, "the capture's reader did not take the last frames");
    return STATUS_OK;
}

FrameSink *Capture::sink(char mark)
{
    std::unique_ptr<Sink> &s = mSinks[mark == '>' ? 0 : 1];
    if (!s)
        s = std::make_unique<Sink>(*this, mark);
    return s.get();
}

void Capture::record(char mark, unsigned long long timeUs, const WireFrame &f)
{
    if (!active() || !mError.empty())
        return;
    const auto status = static_cast<unsigned char>(f.outcome);

    std::vector<unsigned char> &packet = mPacket;
    packet.clear();
    putBig(packet, EXP_PDU_TAG_DISSECTOR_NAME, 2);
    putBig(packet, sizeof DISSECTOR, 2);
    packet.insert(packet.end(), DISSECTOR, DISSECTOR + sizeof DISSECTOR);
    putBig(packet, 0, 4); // end of tags
    packet.push_back(1);
    packet.push_back(status);
    packet.push_back(static_cast<unsigned char>(mark));
    packet.push_back(0);
    putBig(packet, static_cast<unsigned long long>(f.offset), 8);
    putBig(packet, f.length, 4);
    packet.insert(packet.end(), f.wire, f.wire + f.kept);

    const uint32_t flags = (mark == '<' ? PCAPNG_INBOUND : PCAPNG_OUTBOUND) | linkErrors(f);
    const char *live = mLiveCommand;
    if (!mWriter->packet(timeUs, packet.data(), packet.size(), TAGS + HEADER + f.length, flags,
                         f.comment) &&
        mOut.error() == 0 && mOut.dropped() == 1)
        output::info(live, "the capture's reader fell behind; dropping frames from the "
                           "capture (the link is not affected)");
    checkFailed();
}
