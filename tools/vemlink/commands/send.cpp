// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "cli.h"
#include "commands/live.h"
#include "serial/device.h"
#include "hdlc.h"
#include "listing/hex.h"
#include "listing/lister.h"
#include "listing/output.h"

namespace {

const char *const USAGE =
    "usage: vemlink send --device PATH [LINE OPTIONS] [--reply SECONDS] [--lines]\n"
    "                    [HEX...|-]\n"
    "\n"
    "Frames one payload (hex arguments, or raw standard input) and writes it to\n"
    "the device.\n"
    "\n"
    "  --device PATH               the serial device\n"
    "  {LINE}\n"
    "  --lines                     send each line of standard input as one frame\n"
    "  --reply SECONDS             list what the device sends back within SECONDS\n"
    "\n"
    "See vemlink(1) for the replies, signals and exit status.\n";

// How long the summary waits for a slow reader of the listing at the end.
const int FINAL_FLUSH_MS = 1000;

class Sender {
public:
    Sender(const char *name, int fd, double reply, const StopSignals &stop)
        : mName(name), mFd(fd), mReplyMs(static_cast<int>(std::lround(reply * 1000))),
          mReply(reply > 0), mStop(stop)
    {
        if (mReply) {
            Lister::header(true);
            output::flush();
        }
    }

    // Frames and writes one payload, then lists the reply. False when the
    // frame could not be written or the command is to end.
    bool send(const unsigned char *payload, size_t len)
    {
        unsigned char frame[2 * frame::MAX_PAYLOAD + 6];
        int frameLen = 0;
        mFramer.frameData(const_cast<unsigned char *>(payload), static_cast<int>(len), frame,
                          &frameLen);
        // What the device sent before this frame is no reply to it: before
        // the first frame it is thrown away, later it has been listed as it
        // came (see readInput) and the rest of it is listed now.
        if (mSent == 0)
            tcflush(mFd, TCIFLUSH);
        else if (mReply)
            listWaiting();
        mLister.mark();
        ++mSent;
        if (!writeAll(mFd, frame, static_cast<size_t>(frameLen), mStop)) {
            if (errno != EINTR)
                mStatus =
                    failure(mName, std::string("writing the device: ") + std::strerror(errno));
            mCut = errno == EINTR;
            return false;
        }
        ++mWritten;
        if (mReply)
            listReply();
        return mStatus == STATUS_OK && !output::broken() && !mStop.stopped();
    }

    // Reads what standard input has, at most room bytes, waiting for it;
    // meanwhile, with --reply, lists the frames the device sends as they
    // come. False at the end of the input, on an error and on a stop.
    bool readInput(std::string &text, size_t room)
    {
        char chunk[4096];
        while (!mStop.stopped() && mStatus == STATUS_OK && !output::broken()) {
            pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0},
                             {mReply && mSent > 0 ? mFd : -1, POLLIN, 0},
                             {output::waiting(), POLLOUT, 0}};
            if (mStop.wait(fds, 3, -1) < 0)
                continue;
            output::flush();
            if (fds[1].revents != 0)
                listWaiting();
            if (fds[0].revents == 0)
                continue;
            const ssize_t n = read(STDIN_FILENO, chunk, std::min(sizeof chunk, room));
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return false;
            text.append(chunk, static_cast<size_t>(n));
            return true;
        }
        return false;
    }

    // The summary of what came back; the exit status. A stop signal that
    // cut a frame's write short is a failure: not everything was written.
    int finish()
    {
        if (mCut)
            mStatus = failure(mName, "stopped after " + std::to_string(mWritten) + " of " +
                                         std::to_string(mSent) + " frames");
        if (mReply) {
            mLister.setPrefix("           <");
            mLister.finish(" <");
        }
        const int written = output::finish(mName, FINAL_FLUSH_MS);
        return mStatus != STATUS_OK ? mStatus : written;
    }

private:
    // Reads and lists the device's bytes; false at a hang-up or error.
    bool take()
    {
        unsigned char chunk[4096];
        const ssize_t n = read(mFd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return true;
        if (n <= 0) {
            mStatus = failure(mName, n == 0 || errno == EIO ? std::string("the device hung up")
                                                            : std::string("reading the device: ") +
                                                                  std::strerror(errno));
            return false;
        }
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%10.6f <", mClock.seconds());
        mLister.setPrefix(prefix);
        mLister.feed(chunk, static_cast<size_t>(n));
        output::flush();
        return true;
    }

    // Lists what the device has sent so far, without waiting.
    void listWaiting()
    {
        for (;;) {
            const long long before = mLister.bytes();
            if (!take() || mLister.bytes() == before)
                return;
        }
    }

    // Lists what comes within the reply time of the frame just sent.
    void listReply()
    {
        const Clock window; // from the send
        for (;;) {
            const int left = mReplyMs - static_cast<int>(window.seconds() * 1000);
            if (left <= 0 || mStop.stopped() || output::broken())
                break;
            pollfd fds[2] = {{mFd, POLLIN, 0}, {output::waiting(), POLLOUT, 0}};
            if (mStop.wait(fds, 2, left) <= 0)
                continue;
            output::flush();
            if (fds[0].revents != 0 && !take())
                break;
        }
        if (mLister.okSinceMark() == 0 && !mStop.stopped() && mStatus == STATUS_OK &&
            !output::broken())
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
    long mSent = 0;    // frames begun
    long mWritten = 0; // of those, written whole
    bool mCut = false; // a stop came in the middle of a write
    int mStatus = STATUS_OK;
};

// Where the payloads come from.
enum class Input {
    HEX,   // one payload, from the hex arguments
    STDIN, // one payload, read raw from standard input
    LINES  // a payload per line of standard input (--lines)
};

// What the command line asks of send.
struct SendOptions {
    LinkOptions link;
    double reply = 0; // seconds, 0 for no --reply
    Input input = Input::STDIN;
    std::vector<unsigned char> payload; // of Input::HEX
};

// Reads the seconds of --reply into reply; false for a missing, malformed
// or out-of-range value.
bool takeReply(const char *value, double &reply)
{
    char *end = nullptr;
    reply = value != nullptr ? std::strtod(value, &end) : 0;
    return value != nullptr && end != value && *end == '\0' && reply > 0 && reply <= 3600;
}

// Reads the options into o. -1 when they are fine, else the exit status
// (help printed, or a usage error said).
int parseSend(int argc, char **argv, SendOptions &o)
{
    const char *name = argv[0];
    bool lines = false;
    int hexArgs = 0;
    int dashes = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        int status = STATUS_OK;
        const int taken = takeDeviceOption(argc, argv, i, USAGE, o.link, status);
        if (taken < 0)
            return status;
        if (taken > 0)
            continue;
        const char *value = nullptr;
        if (takeValue(argc, argv, i, "--reply", value)) {
            if (!takeReply(value, o.reply))
                return usageError(name, "--reply needs seconds, more than 0 and at most 3600");
        } else if (std::strcmp(arg, "--lines") == 0) {
            lines = true;
        } else if (std::strcmp(arg, "-") == 0) {
            ++dashes;
        } else if (isOption(arg)) {
            return usageError(name, std::string("unknown option ") + arg);
        } else {
            ++hexArgs;
            std::string error;
            if (!parseHex(arg, std::strlen(arg), o.payload, error))
                return usageError(name, "bad hex payload: " + error);
        }
    }
    if (o.link.device == nullptr)
        return usageError(name, "--device PATH is needed");
    if (lines && (hexArgs > 0 || dashes > 0))
        return usageError(name, "--lines reads standard input and takes no payload arguments");
    if (dashes > 1 || (dashes == 1 && hexArgs > 0))
        return usageError(name, "'-' reads the payload from standard input and takes "
                                "no hex arguments beside it");
    if (o.payload.size() > static_cast<size_t>(frame::MAX_PAYLOAD))
        return payloadTooLong(name, o.payload.size(), false);
    o.input = lines ? Input::LINES : hexArgs > 0 ? Input::HEX : Input::STDIN;
    return -1;
}

const size_t PAYLOAD_LIMIT = static_cast<size_t>(frame::MAX_PAYLOAD);

// One payload read raw from standard input; the exit status.
int sendInput(const char *name, Sender &sender, const StopSignals &stop)
{
    std::string text;
    // Never more than one byte past the limit is read.
    while (text.size() <= PAYLOAD_LIMIT &&
           sender.readInput(text, PAYLOAD_LIMIT + 1 - text.size())) {
    }
    if (text.size() > PAYLOAD_LIMIT) {
        sender.finish();
        return payloadTooLong(name, text.size(), true);
    }
    if (stop.stopped()) {
        sender.finish();
        return failure(name, "stopped before the payload was read; no frame was written");
    }
    sender.send(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    return sender.finish();
}

// Sends the complete lines at the start of text and takes them out of it.
// -1 to go on, else the exit status.
int sendCompleteLines(const char *name, Sender &sender, std::string &text)
{
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        const size_t len = nl - start;
        if (len > PAYLOAD_LIMIT) {
            sender.finish();
            return payloadTooLong(name, len, false);
        }
        if (!sender.send(reinterpret_cast<const unsigned char *>(text.data()) + start, len))
            return sender.finish();
    }
    text.erase(0, start);
    // A line still without its newline already past the limit.
    if (text.size() > PAYLOAD_LIMIT) {
        sender.finish();
        return payloadTooLong(name, text.size(), true);
    }
    return -1;
}

// A command console: each line is sent as soon as it is complete; a last
// line without a newline is sent at the end of the input. The exit status.
int sendLines(const char *name, Sender &sender, const StopSignals &stop)
{
    std::string text;
    bool more = true;
    while (more && !stop.stopped()) {
        more = sender.readInput(text, 4096);
        if (!more && !stop.stopped() && !text.empty() && text.back() != '\n')
            text += '\n';
        const int status = sendCompleteLines(name, sender, text);
        if (status >= 0)
            return status;
    }
    return sender.finish();
}

// Sends what o asks for; the exit status.
int sendPayloads(const char *name, const SendOptions &options)
{
    // The handlers first: a signal from here on ends the command in order.
    const StopSignals stop;
    LiveOutput live(name);
    std::string error;
    Device device;
    if (!device.open(options.link, error))
        return failure(name, error);
    Sender sender(name, device.fd(), options.reply, stop);
    if (options.input == Input::LINES)
        return sendLines(name, sender, stop);
    if (options.input == Input::STDIN)
        return sendInput(name, sender, stop);
    sender.send(options.payload.data(), options.payload.size());
    return sender.finish();
}

} // namespace

int runSend(int argc, char **argv)
{
    SendOptions options;
    const int status = parseSend(argc, argv, options);
    return status >= 0 ? status : sendPayloads(argv[0], options);
}
