// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "capture.h"
#include "cli.h"
#include "device.h"
#include "lister.h"
#include "link.h"

namespace {

const char *const USAGE =
    "usage: vemlink tap DEVICE [--baud N] [--rtscts] [--link PATH] [--save PREFIX]\n"
    "                         [--pcap FILE]\n"
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
    "Statuses: ok, crc-error, dropped (see 'vemlink decode --help'). The\n"
    "application may close its end and open it again; the tap stays. SIGINT\n"
    "(Ctrl-C) or SIGTERM ends it: any partial frames, a summary per direction\n"
    "(frames by status, bytes) and exit status 0. A hang-up or an error of\n"
    "DEVICE ends it with the summary and exit status 1.\n"
    "\n"
    "  DEVICE, --device PATH   the serial device the application talks to\n"
    "  --baud N                its rate, default 115200: one of\n"
    "                          1200 1800 2400 4800 9600 19200 38400 57600\n"
    "                          115200 230400 460800 500000 576000 921600\n"
    "                          1000000 1152000 1500000 2000000 2500000\n"
    "                          3000000 3500000 4000000\n"
    "  --rtscts                hardware (RTS/CTS) flow control on DEVICE\n"
    "  --link PATH             also make PATH a symbolic link to the\n"
    "                          application's end (an existing link is replaced)\n"
    "  --save PREFIX           write the raw bytes of each direction to\n"
    "                          PREFIX.tx (>) and PREFIX.rx (<), for\n"
    "                          'vemlink decode' later\n"
    "  --pcap FILE             also write the frames to FILE as pcapng for\n"
    "                          Wireshark, one record per frame with its\n"
    "                          wall-clock time, direction and status; '-' is\n"
    "                          standard output (the listing then goes to\n"
    "                          standard error). FILE must not exist yet\n"
    "\n"
    "Exit status 2 on bad arguments; 1 when DEVICE cannot be opened or set up,\n"
    "hangs up or fails, or a file cannot be written.\n";

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
    std::FILE *save = nullptr;
    char saveBuffer[CHUNK];
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
    if (d.save != nullptr)
        std::fwrite(d.buffer, 1, d.len, d.save);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f %c", clock.seconds(), d.mark);
    d.lister.setPrefix(prefix);
    d.lister.feed(d.buffer, d.len);
    errno = pushError;
    return pushed ? Read::DATA : Read::WRITE_FAILED;
}

bool openSave(const std::string &path, Direction &d, std::string &error)
{
    d.save = std::fopen(path.c_str(), "wb");
    if (d.save == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(d.save, d.saveBuffer, _IOFBF, sizeof d.saveBuffer);
    return true;
}

// A symbolic link at path to target; an old link there is replaced, any
// other file is left alone.
bool makeLink(const char *path, const std::string &target, std::string &error)
{
    struct stat st {};
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode))
        unlink(path);
    if (symlink(target.c_str(), path) == 0)
        return true;
    error = std::string("cannot make the link ") + path + ": " + std::strerror(errno);
    return false;
}

// Removes the link at path if it still leads to target.
void removeLink(const char *path, const std::string &target)
{
    char now[256];
    const ssize_t n = readlink(path, now, sizeof now);
    if (n > 0 && target.compare(0, std::string::npos, now, static_cast<size_t>(n)) == 0)
        unlink(path);
}

} // namespace

int runTap(int argc, char **argv)
{
    const char *name = argv[0];
    LinkOptions link;
    const char *linkPath = nullptr;
    const char *prefix = nullptr;
    const char *pcap = nullptr;
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

    std::string error;
    // First, so that a FIFO waiting for its reader holds nothing else.
    Capture capture;
    if (pcap != nullptr && !capture.open(pcap, link.device, error))
        return failure(name, error);
    Device device;
    if (!device.open(link, error))
        return failure(name, error);
    PtyLink pty;
    if (!pty.open(error))
        return failure(name, "creating the application's pseudo-terminal: " + error);

    // tx: application to device; rx: device to application.
    const auto tx = std::make_unique<Direction>('>', pty.sender(), device.fd());
    const auto rx = std::make_unique<Direction>('<', device.fd(), pty.sender());
    if (prefix != nullptr && (!openSave(std::string(prefix) + ".tx", *tx, error) ||
                              !openSave(std::string(prefix) + ".rx", *rx, error)))
        return failure(name, error);
    if (linkPath != nullptr && !makeLink(linkPath, pty.name(), error))
        return failure(name, error);
    if (capture.active()) {
        tx->lister.setSink(capture.sink('>'));
        rx->lister.setSink(capture.sink('<'));
    }

    // Before the application's end is told: whoever starts the application
    // on it may end the tap at once.
    StopSignals stop;
    std::fprintf(stderr, "vemlink tap: %s at %ld baud; the application's end is %s%s%s\n",
                 link.device, link.baud, pty.name().c_str(),
                 linkPath != nullptr ? ", linked from " : "", linkPath != nullptr ? linkPath : "");
    if (gAnnounce != nullptr)
        gAnnounce("the application's end is " + pty.name());

    const Clock clock;
    Lister::header(true);
    std::fflush(stdout);
    std::string fault; // why the device side ended the tap
    bool paused = false;
    while (!stop.stopped() && fault.empty()) {
        pollfd fds[2] = {
            {device.fd(),
             static_cast<short>((rx->pending() ? 0 : POLLIN) | (tx->pending() ? POLLOUT : 0)), 0},
            // A negative descriptor leaves the application's end out of
            // the poll altogether: even with no events asked, a hang-up on
            // it would end every poll at once.
            {paused ? -1 : pty.sender(),
             static_cast<short>((tx->pending() ? 0 : POLLIN) | (rx->pending() ? POLLOUT : 0)), 0}};
        const int ready = stop.wait(fds, 2, paused ? HANGUP_PAUSE_MS : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return failure(name, std::string("poll: ") + std::strerror(errno));
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
                return failure(name, std::string("reading the application's end: ") +
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
        std::fflush(stdout);
    }

    // What is already read goes on where it can without waiting.
    rx->push();
    tx->push();
    if (linkPath != nullptr)
        removeLink(linkPath, pty.name());
    if (!fault.empty())
        std::fprintf(stderr, "vemlink tap: %s: %s\n", link.device, fault.c_str());
    tx->lister.setPrefix("           >");
    rx->lister.setPrefix("           <");
    tx->lister.finish(" >");
    rx->lister.finish(" <");
    int status = finishOutput(name);
    if (!capture.error().empty())
        status = failure(name, capture.error());
    for (Direction *d : {tx.get(), rx.get()}) {
        if (d->save != nullptr && std::fclose(d->save) != 0)
            status =
                failure(name, std::string("writing ") + prefix + (d == tx.get() ? ".tx" : ".rx") +
                                  ": " + std::strerror(errno));
    }
    return fault.empty() ? status : STATUS_FAILED;
}
