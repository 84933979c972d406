// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink decode: lists the frames in a capture of link bytes, the way a
// protocol analyser does, by running every byte through cHDLC::unFrameByte.
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "capture/capture.h"
#include "cli.h"
#include "serial/device.h"
#include "listing/hex.h"
#include "listing/lister.h"
#include "listing/output.h"

namespace {

// How long the summary waits for a slow reader of a live listing at the end.
const int FINAL_FLUSH_MS = 1000;

const char *const USAGE =
    "usage: vemlink decode [--hex] [--time] [--pcap FILE [--outbound]] [FILE|-]\n"
    "       vemlink decode --device PATH [LINE OPTIONS] [--no-reconnect] [--time]\n"
    "                      [--pcap FILE [--outbound]]\n"
    "\n"
    "Lists the frames in link bytes read from FILE, standard input or a device.\n"
    "\n"
    "  --hex                   the input is hex text, as vemlink encode prints it\n"
    "  --time                  start each line with the seconds since the start\n"
    "  --device PATH           read a serial device live\n"
    "  {LINE}\n"
    "  --no-reconnect          end when the device goes away instead of waiting\n"
    "  --pcap FILE             the frames as pcapng too ('-': standard output)\n"
    "  --outbound              mark the captured frames as > rather than <\n"
    "\n"
    "See vemlink(1) for the listing, statuses, signals and exit status.\n";

// Raw input is listed as it arrives, so a live device shows frames at once.
// The end of the input, a signal and a hang-up of a device all end the
// listing alike: the partial frame and the summary.
// A live device is never held up by the listing (see output.h); a file or a
// pipe waits for a slow reader instead, losing nothing.
// A device (not null) that hangs up or fails is waited for instead, unless
// reconnect is off.
int listLive(const char *name, const char *path, int fd, bool timed, Capture &capture,
             FrameSink *sink, const StopSignals &stop, Device *device = nullptr,
             const LineSettings *line = nullptr, bool reconnect = false)
{
    Clock clock;
    Lister::header(timed);
    output::flush();
    Lister lister;
    lister.setSink(sink);
    unsigned char chunk[65536];
    char prefix[32] = "";
    const bool waits = device != nullptr && reconnect;
    while (!stop.stopped() && !output::broken()) {
        pollfd fds[3] = {{fd, POLLIN, 0},
                         {output::pending() ? STDOUT_FILENO : -1, POLLOUT, 0},
                         {capture.pending() ? capture.fd() : -1, POLLOUT, 0}};
        if (stop.wait(fds, 3, waits ? Device::RETRY_MS : -1) < 0) {
            if (errno == EINTR)
                continue;
            return failure(name, std::string("poll: ") + std::strerror(errno));
        }
        if (timed)
            std::snprintf(prefix, sizeof prefix, "%10.6f  ", clock.seconds());
        if (waits && fd < 0 && device->reopen(*line)) {
            fd = device->fd();
            output::line(prefix + std::string("device back\n"));
        }
        output::flush();
        capture.flush();
        bool gone = waits && device->vanished();
        if (!gone && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            continue;
        const ssize_t n = gone ? -1 : read(fd, chunk, sizeof chunk);
        if (!gone && n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // A terminal whose other end hung up reads EIO: its input has ended.
        gone = gone || n == 0 || (n < 0 && errno == EIO && isatty(fd) == 1);
        if (gone && !waits)
            break;
        if (gone) {
            device->lose();
            fd = -1;
            output::line(prefix + std::string("device gone, waiting\n"));
            continue;
        }
        if (n < 0)
            return failure(name, std::string(path) + ": " + std::strerror(errno));
        lister.arrived();
        lister.setPrefix(prefix);
        lister.feed(chunk, static_cast<size_t>(n));
        output::flush();
        capture.flush();
    }
    lister.finish();
    const int captured = capture.finish(name, FINAL_FLUSH_MS);
    const int status = output::finish(name, FINAL_FLUSH_MS);
    return captured != STATUS_OK ? captured : status;
}

} // namespace

int runDecode(int argc, char **argv)
{
    const char *name = argv[0];
    bool hex = false;
    bool timed = false;
    bool outbound = false;
    const char *pcap = nullptr;
    const char *path = "-";
    int paths = 0;
    LinkOptions link;
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
        else if (std::strcmp(arg, "--no-reconnect") == 0)
            reconnect = false;
        else if (std::strcmp(arg, "--hex") == 0)
            hex = true;
        else if (std::strcmp(arg, "--time") == 0)
            timed = true;
        else if (std::strcmp(arg, "--outbound") == 0)
            outbound = true;
        else if (takeValue(argc, argv, i, "--pcap", pcap)) {
            if (pcap == nullptr || *pcap == '\0')
                return usageError(name, "--pcap needs a file");
        } else if (isOption(arg))
            return usageError(name, std::string("unknown option ") + arg);
        else if (++paths > 1)
            return usageError(name, "one input at a time");
        else
            path = arg;
    }
    if (link.lineGiven && link.device == nullptr)
        return usageError(name, "--baud, --databits, --parity, --stopbits and --flow need "
                                "--device");
    if (!reconnect && link.device == nullptr)
        return usageError(name, "--no-reconnect needs --device");
    if (link.device != nullptr && paths > 0)
        return usageError(name, "--device or FILE, not both");
    if (link.device != nullptr && hex)
        return usageError(name, "--hex reads text, not a device");
    if (outbound && pcap == nullptr)
        return usageError(name, "--outbound marks the frames of --pcap");

    Capture capture;
    std::string pcapError;
    if (pcap != nullptr &&
        !capture.open(pcap, link.device != nullptr ? link.device : path, pcapError))
        return failure(name, pcapError);
    FrameSink *sink = capture.active() ? capture.sink(outbound ? '>' : '<') : nullptr;

    if (hex) {
        const int fd = openInput(path);
        if (fd < 0)
            return failure(name, std::string(path) + ": " + std::strerror(errno));
        std::vector<unsigned char> text;
        std::vector<unsigned char> bytes;
        std::string error;
        if (!readAll(fd, text))
            return failure(name, std::string(path) + ": " + std::strerror(errno));
        if (!parseHex(reinterpret_cast<const char *>(text.data()), text.size(), bytes, error))
            return usageError(name, std::string(path) + ": bad hex: " + error);
        Lister::header(timed);
        Lister lister;
        lister.setSink(sink);
        if (timed)
            lister.setPrefix("  0.000000  ");
        lister.arrived();
        lister.feed(bytes.data(), bytes.size());
        lister.finish();
        const int captured = capture.finish(name, 0);
        const int status = finishOutput(name);
        return captured != STATUS_OK ? captured : status;
    }

    const StopSignals stop;
    if (link.device != nullptr) {
        LiveOutput live(name);
        Device device;
        std::string error;
        if (!device.open(link, error))
            return failure(name, error);
        return listLive(name, link.device, device.fd(), timed, capture, sink, stop, &device,
                        &link.line, reconnect);
    }
    const int fd = openInput(path);
    if (fd < 0)
        return failure(name, std::string(path) + ": " + std::strerror(errno));
    return listLive(name, path, fd, timed, capture, sink, stop);
}
