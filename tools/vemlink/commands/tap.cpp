// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/ioctl.h>
#include <unistd.h>

#include "capture/capture.h"
#include "cli.h"
#include "serial/device.h"
#include "capture/files.h"
#include "serial/link.h"
#include "listing/lister.h"
#include "listing/output.h"

namespace {

const char *const USAGE =
    "usage: vemlink tap DEVICE [LINE OPTIONS] [--no-reconnect] [--link PATH]\n"
    "                  [--save PREFIX [--force]] [--pcap FILE]\n"
    "\n"
    "Sits between an application and its serial DEVICE: forwards every byte both\n"
    "ways and lists each direction's frames, > to DEVICE and < from it.\n"
    "\n"
    "  DEVICE, --device PATH   the serial device the application talks to\n"
    "  {LINE}\n"
    "  --no-reconnect          end when DEVICE goes away instead of waiting\n"
    "  --link PATH             a symbolic link to the application's end\n"
    "  --save PREFIX           each direction's bytes to PREFIX.tx and PREFIX.rx\n"
    "  --force                 let --save replace existing regular files\n"
    "  --pcap FILE             the frames as pcapng too ('-': standard output)\n"
    "\n"
    "See vemlink(1) for the listing, events, signals and exit status.\n";

// How long the summary waits for a slow reader of the listing at the end.
const int FINAL_FLUSH_MS = 1000;
// Bytes taken by one read: large, so that a fast link costs few calls.
const size_t CHUNK = 65536;
// How long to leave the application's end alone after it reported a
// hang-up, so that the loop does not spin while nobody holds it.
const int HANGUP_PAUSE_MS = 100;
// How often the tap looks at what no descriptor tells: whether DEVICE's path
// is still there, whether a device that went away is back, and the
// application's settings when its terminal does not report them.
const int TICK_MS = Device::RETRY_MS;

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
    int from; // -1 while the device is gone
    int to;
    long long dropped = 0; // bytes read while the device was gone
    unsigned char buffer[CHUNK];
    size_t len = 0;
    size_t done = 0;
    Lister lister;
    SaveFile save;
};

enum class Read { DATA, NOTHING, STATE, CLOSED, READ_FAILED, WRITE_FAILED };

// Reads into an empty direction, forwards at once, then saves and lists: the
// decoding never holds a byte back. With packet, every read starts with a
// byte of its own (see PtyLink::watchSettings): before data it is skipped,
// alone it is a change of state, returned as STATE. With nowhere to go (the
// device is gone), what is read is counted and dropped.
Read forward(Direction &d, const Clock &clock, bool packet)
{
    const ssize_t n = read(d.from, d.buffer, CHUNK);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return Read::NOTHING;
    // A terminal whose other side hung up reads EIO.
    if (n == 0 || (n < 0 && errno == EIO))
        return Read::CLOSED;
    if (n < 0)
        return Read::READ_FAILED;
    const size_t skip = packet ? 1 : 0;
    if (packet && d.buffer[0] != TIOCPKT_DATA)
        return Read::STATE;
    if (d.to < 0) {
        d.dropped += n - static_cast<ssize_t>(skip);
        return Read::DATA;
    }
    d.len = static_cast<size_t>(n);
    d.done = skip;
    const bool pushed = d.push();
    const int pushError = errno;
    // The capture's time for these bytes, taken once they are on their way:
    // nothing but the write stands between a read and its forwarding.
    d.lister.arrived();
    d.save.write("tap", d.buffer + skip, d.len - skip);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f %c", clock.seconds(), d.mark);
    d.lister.setPrefix(prefix);
    d.lister.feed(d.buffer + skip, d.len - skip);
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
    bool reconnect = true;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(withLineOptions(USAGE).c_str(), stdout);
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
        } else if (std::strcmp(arg, "--no-reconnect") == 0) {
            reconnect = false;
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
    // The application finds its end as DEVICE is, and every change it
    // makes there is heard of at once (or, where the terminal cannot tell,
    // looked for every TICK_MS).
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told
    // (Linux), so those two the tap cannot follow: DEVICE keeps its own.
    LineSettings ptyLine = link.line;
    ptyLine.dataBits = 8;
    ptyLine.parity = LineSettings::PARITY_NONE;
    if (!applyLine(pty.receiver(), pty.name().c_str(), ptyLine, error))
        return failure(name, "setting up the application's pseudo-terminal: " + error);
    const bool packet = pty.watchSettings();
    LineSettings line = link.line;
    bool extproc = false;
    readLine(pty.receiver(), line, extproc);
    line.dataBits = link.line.dataBits;
    line.parity = link.line.parity;

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

    std::fprintf(stderr, "vemlink tap: %s at %s; the application's end is %s%s%s\n", link.device,
                 describe(line).c_str(), pty.name().c_str(),
                 linkPath != nullptr ? ", linked from " : "", linkPath != nullptr ? linkPath : "");
    if (gAnnounce != nullptr)
        gAnnounce("the application's end is " + pty.name());

    const Clock clock;
    Lister::header(true);
    output::flush();
    std::string fault; // why the device side ended the tap
    int status = STATUS_OK;
    bool paused = false;
    long gone = 0; // times the device went away
    double ticked = 0;

    // The application's settings, when they changed, go to DEVICE.
    auto follow = [&]() {
        LineSettings now = line;
        if (!readLine(pty.receiver(), now, extproc))
            return;
        now.dataBits = line.dataBits;
        now.parity = line.parity;
        if (now == line)
            return;
        line = now;
        std::string refused;
        if (device.fd() >= 0 && !applyLine(device.fd(), link.device, line, refused)) {
            listEvent(clock.seconds(), '>', "settings " + describe(line) + " refused: " + refused);
            std::fprintf(stderr, "vemlink tap: %s\n", refused.c_str());
        } else {
            listEvent(clock.seconds(), '>', "settings " + describe(line));
        }
    };
    // DEVICE went away: the application's end stays, and what it writes
    // meanwhile is dropped.
    auto lose = [&](const std::string &why) {
        if (!reconnect) {
            fault = why;
            return;
        }
        if (device.fd() < 0) // already said, by another sign of the same end
            return;
        ++gone;
        device.lose();
        tx->dropped += static_cast<long long>(tx->len - tx->done);
        tx->len = tx->done = 0;
        tx->to = rx->from = -1;
        listEvent(clock.seconds(), ' ', "device gone, waiting");
        std::fprintf(stderr, "vemlink tap: %s: %s; waiting for it to come back\n", link.device,
                     why.c_str());
    };

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
        const int ready = stop.wait(fds, 4, paused ? HANGUP_PAUSE_MS : TICK_MS);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            status = failure(name, std::string("poll: ") + std::strerror(errno));
            break;
        }
        paused = false;

        const short dev = fds[0].revents;
        if ((dev & POLLIN) != 0) {
            const Read r = forward(*rx, clock, false);
            if (r == Read::CLOSED)
                lose("hang-up");
            else if (r == Read::READ_FAILED)
                lose(std::string("reading: ") + std::strerror(errno));
        } else if ((dev & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            lose((dev & POLLHUP) != 0 ? "hang-up" : "error");
        }
        if ((dev & POLLOUT) != 0 && !tx->push())
            lose(std::string("writing: ") + std::strerror(errno));

        const short app = fds[1].revents;
        if ((app & POLLIN) != 0) {
            const Read r = forward(*tx, clock, packet);
            if (r == Read::WRITE_FAILED)
                lose(std::string("writing: ") + std::strerror(errno));
            else if (r == Read::READ_FAILED)
                status = failure(name, std::string("reading the application's end: ") +
                                           std::strerror(errno));
            else if (r == Read::CLOSED)
                paused = true;
            else if (r == Read::STATE && (tx->buffer[0] & TIOCPKT_IOCTL) != 0)
                follow();
        }
        if ((app & POLLOUT) != 0)
            rx->push();
        // With our own descriptor of the application's end held open this
        // should not come; should it, look again after a pause.
        if ((app & (POLLHUP | POLLERR)) != 0 && (app & POLLIN) == 0)
            paused = true;

        // What no descriptor tells, looked at every TICK_MS.
        const double now = clock.seconds();
        if (fault.empty() && now - ticked >= TICK_MS / 1000.0) {
            ticked = now;
            if (!extproc)
                follow();
            // Without reconnecting, only a hang-up or an error ends the tap,
            // as for decode --device: a path gone while the device still
            // answers is not looked for.
            if (reconnect && device.vanished())
                lose("its path is gone");
            else if (device.fd() < 0 && device.reopen(line)) {
                tx->to = rx->from = device.fd();
                listEvent(clock.seconds(), ' ', "device back");
                std::fprintf(stderr, "vemlink tap: %s is back\n", link.device);
            }
        }
        output::flush();
        capture.flush();
    }

    // What is already read goes on where it can without waiting.
    if (rx->from >= 0)
        rx->push();
    if (tx->to >= 0)
        tx->push();
    if (!fault.empty())
        status = failure(name, std::string(link.device) + ": " + fault);
    tx->lister.setPrefix("           >");
    rx->lister.setPrefix("           <");
    tx->lister.finish(" >");
    rx->lister.finish(" <");
    if (gone > 0)
        output::line("device gone " + std::to_string(gone) + (gone == 1 ? " time" : " times") +
                     "; " + std::to_string(tx->dropped) +
                     " bytes from the application dropped meanwhile\n");
    if (capture.finish(name, FINAL_FLUSH_MS) != STATUS_OK)
        status = STATUS_FAILED;
    if (output::finish(name, FINAL_FLUSH_MS) != STATUS_OK || tx->save.failed() || rx->save.failed())
        status = STATUS_FAILED;
    return status;
}
