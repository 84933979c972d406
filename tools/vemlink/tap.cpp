// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include <cerrno>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "capture.h"
#include "cli.h"
#include "device.h"
#include "files.h"
#include "link.h"
#include "lister.h"
#include "output.h"

namespace {

const char *const USAGE =
    "usage: vemlink tap DEVICE [--baud N] [--rtscts] [--link PATH] [--save PREFIX]\n"
    "                         [--force] [--pcap FILE]\n"
    "\n"
    "Opens DEVICE (a serial port, set raw 8N1) and a pseudo-terminal for the\n"
    "application, whose path goes to standard error: start the application on\n"
    "that path instead of DEVICE. Every byte is forwarded both ways unchanged\n"
    "the moment it is read. The frames of each direction are listed on\n"
    "standard output in the columns of 'vemlink decode', after the seconds\n"
    "since the start (to the microsecond) and the direction:\n"
    "\n"
    "  >   from the application to the device\n"
    "  <   from the device to the application\n"
    "\n"
    "Statuses:\n"
    "  ok         a frame whose FCS checks; length and data are the payload\n"
    "  crc-error  the FCS check failed; the bytes as they were on the wire\n"
    "  dropped    more than 1023 unstuffed bytes between two flags (listed\n"
    "             whole, with their length on the wire), or a lone 7D\n"
    "  partial    bytes after the last flag when the tap ended\n"
    "\n"
    "The listing never holds up the link: when standard output falls behind\n"
    "(a paused pager, a pipe nobody reads), listing lines are dropped, never\n"
    "link bytes; standard error says so when it starts, and the summary ends\n"
    "with 'N lines not shown: standard output fell behind'. Nor does a\n"
    "--pcap capture into a pipe or a FIFO: when its reader falls behind,\n"
    "whole records are dropped (the capture stays valid pcapng), standard\n"
    "error says so, and the summary ends with 'N frames not captured: the\n"
    "capture's reader fell behind'; a reader that goes away stops the\n"
    "capture, said once, and the tap forwards on.\n"
    "\n"
    "DEVICE is locked (flock, as terminal programs do, and TIOCEXCL); one that\n"
    "another program has locked is refused. The application may close its\n"
    "end and open it again; the tap stays. SIGINT (Ctrl-C), SIGTERM, SIGHUP\n"
    "and SIGQUIT end it: any partial frames, a summary per direction (frames\n"
    "by status, bytes) and exit status 0. However it ends, the capture files\n"
    "hold every byte forwarded, the link is removed if it still leads to the\n"
    "tap, and DEVICE gets its earlier settings back once its output has\n"
    "drained (waiting at most 2 s).\n"
    "\n"
    "  DEVICE, --device PATH   the serial device the application talks to\n"
    "  --baud N                its rate, default 115200: one of\n"
    "                          {RATES}\n"
    "  --rtscts                hardware (RTS/CTS) flow control on DEVICE\n"
    "  --link PATH             also make PATH a symbolic link to the\n"
    "                          application's end; PATH must not exist, except\n"
    "                          as a stale link of an earlier tap (into\n"
    "                          /dev/pts/, its target gone)\n"
    "  --save PREFIX           write the raw bytes of each direction to\n"
    "                          PREFIX.tx (>) and PREFIX.rx (<) as they are\n"
    "                          forwarded, for 'vemlink decode'; new files,\n"
    "                          mode 0600, an existing one refused\n"
    "  --force                 let --save replace existing regular files\n"
    "                          (never through a symbolic link)\n"
    "  --pcap FILE             also write the frames to FILE as pcapng for\n"
    "                          Wireshark, one record per frame with its\n"
    "                          wall-clock time, direction and status; '-' is\n"
    "                          standard output (the listing then goes to\n"
    "                          standard error). FILE must not exist yet\n"
    "\n"
    "Exit status 2 on bad arguments; 1 when DEVICE cannot be opened or set up,\n"
    "is in use, hangs up or fails, when a file cannot be made or written or\n"
    "the capture's reader went away (the forwarding goes on without it), or\n"
    "when standard output is closed.\n";

// How long the summary waits for a slow reader of the listing at the end.
const int FINAL_FLUSH_MS = 1000;
// Bytes taken by one read: large, so that a fast link costs few calls.
const size_t CHUNK = 65536;
// How long to leave the application's end alone after it reported a
// hang-up, so that the loop does not spin while nobody holds it.
const int HANGUP_PAUSE_MS = 100;

// One direction: bytes read from one descriptor wait in the buffer until the
// other has taken them all; until then nothing more is read from the first,
// so a slow side slows the other down and nothing is lost.
struct Direction {
    Direction(char mark, int from, int to) : mark(mark), from(from), to(to) {}

    bool pending() const { return done < len; }

    // Writes what the destination takes now. False on an error.
    bool push()
    {
        while (pending()) {
            const ssize_t n = write(to, buffer + done, len - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return n < 0 && errno == EAGAIN;
        }
        return true;
    }

    const char mark;
    const int from;
    const int to;
    unsigned char buffer[CHUNK];
    size_t len = 0;
    size_t done = 0;
    Lister lister;
    SaveFile save;
};

enum class Read { DATA, NOTHING, CLOSED, READ_FAILED, WRITE_FAILED };

// Reads into an empty direction, forwards at once, then saves and lists: the
// decoding never holds a byte back.
Read forward(Direction &d, const Clock &clock)
{
    const ssize_t n = read(d.from, d.buffer, CHUNK);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return Read::NOTHING;
    // A terminal whose other side hung up reads EIO.
    if (n == 0 || (n < 0 && errno == EIO))
        return Read::CLOSED;
    if (n < 0)
        return Read::READ_FAILED;
    d.lister.arrived();
    d.len = static_cast<size_t>(n);
    d.done = 0;
    const bool pushed = d.push();
    const int pushError = errno;
    d.save.write("tap", d.buffer, d.len);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f %c", clock.seconds(), d.mark);
    d.lister.setPrefix(prefix);
    d.lister.feed(d.buffer, d.len);
    errno = pushError;
    return pushed ? Read::DATA : Read::WRITE_FAILED;
}

} // namespace

int runTap(int argc, char **argv)
{
    const char *name = argv[0];
    LinkOptions link;
    const char *linkPath = nullptr;
    const char *prefix = nullptr;
    const char *pcap = nullptr;
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(withRates(USAGE).c_str(), stdout);
            return finishOutput(name);
        }
        std::string error;
        const int taken = takeLinkOption(argc, argv, i, link, error);
        if (taken < 0)
            return usageError(name, error);
        if (taken > 0)
            continue;
        const char *value = nullptr;
        if (takeValue(argc, argv, i, "--link", value)) {
            if (value == nullptr || *value == '\0')
                return usageError(name, "--link needs a path");
            linkPath = value;
        } else if (takeValue(argc, argv, i, "--save", value)) {
            if (value == nullptr || *value == '\0')
                return usageError(name, "--save needs a prefix");
            prefix = value;
        } else if (takeValue(argc, argv, i, "--pcap", value)) {
            if (value == nullptr || *value == '\0')
                return usageError(name, "--pcap needs a file");
            pcap = value;
        } else if (std::strcmp(arg, "--force") == 0) {
            force = true;
        } else if (isOption(arg)) {
            return usageError(name, std::string("unknown option ") + arg);
        } else if (link.device != nullptr) {
            return usageError(name, "one device at a time");
        } else {
            link.device = arg;
        }
    }
    if (link.device == nullptr)
        return usageError(name, "no DEVICE given");
    if (force && prefix == nullptr)
        return usageError(name, "--force goes with --save");

    // Everything the tap holds is owned by an object here, released in the
    // reverse order on every way out: the link and the files first, the
    // device's settings last, once its output has drained.
    const StopSignals stop;
    std::string error;
    // Before the device, so that a FIFO waiting for its reader holds nothing
    // else; and before the listing goes live, since '-' moves standard
    // output to standard error and keeps the capture's stream as it was.
    Capture capture;
    if (pcap != nullptr && !capture.open(pcap, link.device, error))
        return failure(name, error);
    LiveOutput live(name);
    Device device;
    if (!device.open(link, error))
        return failure(name, error);
    PtyLink pty;
    if (!pty.open(error))
        return failure(name, "creating the application's pseudo-terminal: " + error);

    // tx: application to device; rx: device to application.
    const auto tx = std::make_unique<Direction>('>', pty.sender(), device.fd());
    const auto rx = std::make_unique<Direction>('<', device.fd(), pty.sender());
    if (prefix != nullptr) {
        if (!tx->save.create(std::string(prefix) + ".tx", force, error))
            return failure(name, error);
        if (!rx->save.create(std::string(prefix) + ".rx", force, error)) {
            tx->save.discard();
            return failure(name, error);
        }
    }
    LinkPath linked;
    if (linkPath != nullptr && !linked.make(linkPath, pty.name(), error)) {
        tx->save.discard();
        rx->save.discard();
        return failure(name, error);
    }
    if (capture.active()) {
        tx->lister.setSink(capture.sink('>'));
        rx->lister.setSink(capture.sink('<'));
    }

    std::fprintf(stderr, "vemlink tap: %s at %ld baud; the application's end is %s%s%s\n",
                 link.device, link.baud, pty.name().c_str(),
                 linkPath != nullptr ? ", linked from " : "", linkPath != nullptr ? linkPath : "");
    if (gAnnounce != nullptr)
        gAnnounce("the application's end is " + pty.name());

    const Clock clock;
    Lister::header(true);
    output::flush();
    std::string fault; // why the device side ended the tap
    int status = STATUS_OK;
    bool paused = false;
    while (!stop.stopped() && fault.empty() && status == STATUS_OK && !output::broken()) {
        pollfd fds[4] = {
            {device.fd(),
             static_cast<short>((rx->pending() ? 0 : POLLIN) | (tx->pending() ? POLLOUT : 0)), 0},
            // A negative descriptor leaves the application's end out of
            // the poll altogether: even with no events asked, a hang-up on
            // it would end every poll at once.
            {paused ? -1 : pty.sender(),
             static_cast<short>((tx->pending() ? 0 : POLLIN) | (rx->pending() ? POLLOUT : 0)), 0},
            // The listing and the capture only when they wait for a reader.
            {output::pending() ? STDOUT_FILENO : -1, POLLOUT, 0},
            {capture.pending() ? capture.fd() : -1, POLLOUT, 0}};
        const int ready = stop.wait(fds, 4, paused ? HANGUP_PAUSE_MS : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            status = failure(name, std::string("poll: ") + std::strerror(errno));
            break;
        }
        paused = false;

        const short dev = fds[0].revents;
        if ((dev & POLLIN) != 0) {
            const Read r = forward(*rx, clock);
            if (r == Read::CLOSED)
                fault = "hang-up";
            else if (r == Read::READ_FAILED)
                fault = std::string("reading: ") + std::strerror(errno);
        } else if ((dev & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            fault = (dev & POLLHUP) != 0 ? "hang-up" : "error";
        }
        if ((dev & POLLOUT) != 0 && !tx->push())
            fault = std::string("writing: ") + std::strerror(errno);

        const short app = fds[1].revents;
        if ((app & POLLIN) != 0) {
            const Read r = forward(*tx, clock);
            if (r == Read::WRITE_FAILED)
                fault = std::string("writing: ") + std::strerror(errno);
            else if (r == Read::READ_FAILED)
                status = failure(name, std::string("reading the application's end: ") +
                                           std::strerror(errno));
            else if (r == Read::CLOSED)
                paused = true;
        }
        if ((app & POLLOUT) != 0)
            rx->push();
        // With our own descriptor of the application's end held open this
        // should not come; should it, look again after a pause.
        if ((app & (POLLHUP | POLLERR)) != 0 && (app & POLLIN) == 0)
            paused = true;
        output::flush();
        capture.flush();
    }

    // What is already read goes on where it can without waiting.
    rx->push();
    tx->push();
    if (!fault.empty())
        status = failure(name, std::string(link.device) + ": " + fault);
    tx->lister.setPrefix("           >");
    rx->lister.setPrefix("           <");
    tx->lister.finish(" >");
    rx->lister.finish(" <");
    if (capture.finish(name, FINAL_FLUSH_MS) != STATUS_OK)
        status = STATUS_FAILED;
    if (output::finish(name, FINAL_FLUSH_MS) != STATUS_OK || tx->save.failed() || rx->save.failed())
        status = STATUS_FAILED;
    return status;
}
