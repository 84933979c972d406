// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "cli.h"
#include "device.h"
#include "hdlc.h"
#include "hex.h"
#include "lister.h"

namespace {

const char *const USAGE =
    "usage: vemlink send --device PATH [--baud N] [--rtscts] [--reply SECONDS]\n"
    "                    [--lines] [HEX...|-]\n"
    "\n"
    "Frames one payload with cHDLC::frameData and writes the frame to the\n"
    "device (set raw 8N1, its settings put back at the end). The payload is\n"
    "given in hex, as for 'vemlink encode', or read raw from standard input\n"
    "with '-' or no argument; 0 to 1021 bytes.\n"
    "\n"
    "  --device PATH     the serial device\n"
    "  --baud N          its rate, default 115200: one of\n"
    "                    1200 1800 2400 4800 9600 19200 38400 57600 115200\n"
    "                    230400 460800 500000 576000 921600 1000000 1152000\n"
    "                    1500000 2000000 2500000 3000000 3500000 4000000\n"
    "  --rtscts          hardware (RTS/CTS) flow control on the device\n"
    "  --lines           read text lines from standard input and send each,\n"
    "                    without its newline, as one frame: a command console\n"
    "  --reply SECONDS   after each frame, list the frames the device sends\n"
    "                    back within SECONDS (for example 0.5), as the lines\n"
    "                    of 'vemlink decode' after the seconds since the start\n"
    "                    and '<'; a summary line follows at the end\n"
    "\n"
    "Exit status 0 when everything was written and, with --reply, an intact\n"
    "frame came back after each frame sent; 1 when the device cannot be\n"
    "opened or set up, a write fails, or a reply is missing; 2 on bad\n"
    "arguments or a payload over 1021 bytes. SIGINT or SIGTERM stops it.\n";

// Reads what standard input has, waiting for it; false at its end, on an
// error and on a stop.
bool readInput(std::string &text, const StopSignals &stop)
{
    char chunk[4096];
    for (;;) {
        if (stop.stopped())
            return false;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (stop.wait(&in, 1, -1) < 0)
            continue;
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        text.append(chunk, static_cast<size_t>(n));
        return true;
    }
}

class Sender {
public:
    Sender(const char *name, int fd, double reply, const StopSignals &stop)
        : mName(name), mFd(fd), mReplyMs(static_cast<int>(std::lround(reply * 1000))),
          mReply(reply > 0), mStop(stop)
    {
        if (mReply) {
            Lister::header(true);
            std::fflush(stdout);
        }
    }

    // Frames and writes one payload, then lists the reply. False when the
    // frame could not be written.
    bool send(const unsigned char *payload, size_t len)
    {
        unsigned char frame[2 * MAX_PAYLOAD + 6];
        int frameLen = 0;
        mFramer.frameData(const_cast<unsigned char *>(payload), static_cast<int>(len), frame,
                          &frameLen);
        ++mSent;
        if (!writeAll(mFd, frame, static_cast<size_t>(frameLen), mStop)) {
            if (errno != EINTR)
                mStatus =
                    failure(mName, std::string("writing the device: ") + std::strerror(errno));
            return false;
        }
        if (mReply)
            listReply();
        return true;
    }

    // The summary of what came back; the exit status.
    int finish()
    {
        if (mReply) {
            mLister.setPrefix("           <");
            mLister.finish(" <");
        }
        const int written = finishOutput(mName);
        return mStatus != STATUS_OK ? mStatus : written;
    }

private:
    void listReply()
    {
        const long before = mLister.ok();
        const Clock window;
        unsigned char chunk[4096];
        for (;;) {
            const int left = mReplyMs - static_cast<int>(window.seconds() * 1000);
            if (left <= 0 || mStop.stopped())
                break;
            pollfd in{mFd, POLLIN, 0};
            if (mStop.wait(&in, 1, left) <= 0)
                continue;
            const ssize_t n = read(mFd, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                mStatus = failure(mName,
                                  n == 0 || errno == EIO
                                      ? std::string("the device hung up")
                                      : std::string("reading the device: ") + std::strerror(errno));
                break;
            }
            char prefix[32];
            std::snprintf(prefix, sizeof prefix, "%10.6f <", mClock.seconds());
            mLister.setPrefix(prefix);
            mLister.feed(chunk, static_cast<size_t>(n));
            std::fflush(stdout);
        }
        if (mLister.ok() == before && !mStop.stopped() && mStatus == STATUS_OK)
            mStatus =
                failure(mName, "no intact frame came back within " + std::to_string(mReplyMs) +
                                   " ms of frame " + std::to_string(mSent));
    }

    const char *mName;
    int mFd;
    int mReplyMs;
    bool mReply;
    const StopSignals &mStop;
    cHDLC mFramer;
    Lister mLister;
    Clock mClock;
    long mSent = 0;
    int mStatus = STATUS_OK;
};

int tooLong(const char *name, size_t len)
{
    return usageError(name, "payload of " + std::to_string(len) +
                                " bytes; a frame carries at most " + std::to_string(MAX_PAYLOAD));
}

} // namespace

int runSend(int argc, char **argv)
{
    const char *name = argv[0];
    LinkOptions link;
    double reply = 0;
    bool lines = false;
    std::vector<unsigned char> payload;
    int hexArgs = 0;
    int dashes = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(USAGE, stdout);
            return finishOutput(name);
        }
        std::string error;
        const int taken = takeLinkOption(argc, argv, i, link, error);
        if (taken < 0)
            return usageError(name, error);
        if (taken > 0)
            continue;
        const char *value = nullptr;
        if (takeValue(argc, argv, i, "--reply", value)) {
            char *end = nullptr;
            reply = value != nullptr ? std::strtod(value, &end) : 0;
            if (value == nullptr || end == value || *end != '\0' || !(reply > 0) || reply > 3600)
                return usageError(name, "--reply needs seconds, more than 0 and at most 3600");
        } else if (std::strcmp(arg, "--lines") == 0) {
            lines = true;
        } else if (std::strcmp(arg, "-") == 0) {
            ++dashes;
        } else if (isOption(arg)) {
            return usageError(name, std::string("unknown option ") + arg);
        } else {
            ++hexArgs;
            if (!parseHex(arg, std::strlen(arg), payload, error))
                return usageError(name, "bad hex payload: " + error);
        }
    }
    if (link.device == nullptr)
        return usageError(name, "--device PATH is needed");
    if (lines && (hexArgs > 0 || dashes > 0))
        return usageError(name, "--lines reads standard input and takes no payload arguments");
    if (dashes > 1 || (dashes == 1 && hexArgs > 0))
        return usageError(name, "'-' reads the payload from standard input and takes "
                                "no hex arguments beside it");
    if (payload.size() > static_cast<size_t>(MAX_PAYLOAD))
        return tooLong(name, payload.size());

    std::string error;
    Device device;
    if (!device.open(link, error))
        return failure(name, error);
    StopSignals stop;
    Sender sender(name, device.fd(), reply, stop);

    if (!lines && hexArgs > 0) {
        sender.send(payload.data(), payload.size());
        return sender.finish();
    }
    std::string text;
    if (!lines) {
        while (readInput(text, stop)) {
        }
        if (stop.stopped())
            return sender.finish();
        if (text.size() > static_cast<size_t>(MAX_PAYLOAD))
            return tooLong(name, text.size());
        sender.send(reinterpret_cast<const unsigned char *>(text.data()), text.size());
        return sender.finish();
    }
    // A command console: each line is sent as soon as it is complete; a last
    // line without a newline is sent at the end of the input.
    bool more = true;
    while (more && !stop.stopped()) {
        more = readInput(text, stop);
        if (!more && !stop.stopped() && !text.empty() && text.back() != '\n')
            text += '\n';
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
            const size_t len = nl - start;
            if (len > static_cast<size_t>(MAX_PAYLOAD)) {
                sender.finish();
                return tooLong(name, len);
            }
            if (!sender.send(reinterpret_cast<const unsigned char *>(text.data()) + start, len))
                return sender.finish();
        }
        text.erase(0, start);
    }
    return sender.finish();
}
