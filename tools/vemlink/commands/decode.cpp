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
#include "commands/live.h"

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
    "  --hex                       the input is hex text, as vemlink encode prints\n"
    "  --time                      start each line with the seconds since the start\n"
    "  --device PATH               read a serial device live\n"
    "  {LINE}\n"
    "  --no-reconnect              end when the device goes away, not wait for it\n"
    "  --pcap FILE                 the frames as pcapng too ('-': standard output)\n"
    "  --outbound                  mark the captured frames as > rather than <\n"
    "\n"
    "See vemlink(1) for the listing, statuses, signals and exit status.\n";

// What a live listing reads from: a plain input, or a device that may go
// away and come back.
struct Source {
    const char *path;
    int fd;
    ReconnectingDevice *device; // nullptr for a plain input
    LineSettings line;
};

// A device's event; one that ends the listing ends the input, as a hang-up
// does with --no-reconnect, said when it was not asked for.
void reportEnd(const char *name, const ReconnectingDevice &device, DeviceEvent event,
               const std::string &prefix)
{
    reportEvent(name, device, event, prefix);
    if (event == DeviceEvent::ENDED && device.reconnects())
        output::info(name, device.path() + ": " + device.why());
}

// Reads what the source has; false when it ended. A device that goes away
// is waited for (listed) unless it ended the listing.
bool readSource(const char *name, Source &in, Lister &lister, const std::string &prefix,
                int &status)
{
    unsigned char chunk[65536];
    const ssize_t n = read(in.fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    // A terminal whose other end hung up reads EIO: its input has ended.
    const bool gone = n == 0 || (n < 0 && errno == EIO && isatty(in.fd) == 1);
    if (gone && in.device == nullptr)
        return false;
    if (gone) {
        const DeviceEvent event = in.device->lose("hang-up");
        in.fd = in.device->fd();
        reportEnd(name, *in.device, event, prefix);
        return event != DeviceEvent::ENDED;
    }
    if (n < 0) {
        status = failure(name, std::string(in.path) + ": " + std::strerror(errno));
        return false;
    }
    lister.arrived();
    lister.setPrefix(prefix.c_str());
    lister.feed(chunk, static_cast<size_t>(n));
    return true;
}

// Raw input is listed as it arrives, so a live device shows frames at once.
// The end of the input, a signal and a hang-up of a device all end the
// listing alike: the partial frame and the summary.
// A live device is never held up by the listing (see output.h); a file or a
// pipe waits for a slow reader instead, losing nothing. A device that hangs
// up or fails is waited for, unless it is not to be (see ReconnectingDevice).
int listLive(const char *name, Source in, bool timed, Capture &capture, FrameSink *sink,
             const StopSignals &stop, const LiveHooks &hooks = LiveHooks())
{
    Clock clock;
    Lister::header(timed);
    output::flush();
    Lister lister;
    lister.setSink(sink);
    int status = STATUS_OK;
    while (!stop.stopped() && !output::broken() && status == STATUS_OK) {
        pollfd fds[3] = {{in.fd, POLLIN, 0},
                         {output::waiting(), POLLOUT, 0},
                         {capture.pending() ? capture.fd() : -1, POLLOUT, 0}};
        if (stop.wait(fds, 3, in.device != nullptr ? Device::RETRY_MS : -1) < 0 && errno != EINTR)
            return failure(name, std::string("poll: ") + std::strerror(errno));
        const std::string prefix = timed ? eventPrefix(clock.seconds(), ' ').substr(0, 12) : "";
        if (in.device != nullptr) {
            const DeviceEvent event = in.device->tick(in.line);
            reportEnd(name, *in.device, event, prefix);
            in.fd = in.device->fd();
            if (event == DeviceEvent::ENDED)
                break;
        }
        summaryOnRequest(stop, name, {{lister, ""}});
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && in.fd >= 0 &&
            !readSource(name, in, lister, prefix, status))
            break;
        output::flush();
        capture.flush();
        if (hooks.endWithCapture && (capture.failed() || capture.readerGone()))
            break;
    }
    lister.finish();
    const int captured = capture.finish(name, FINAL_FLUSH_MS);
    const int out = output::finish(name, FINAL_FLUSH_MS);
    if (status != STATUS_OK)
        return status;
    return captured != STATUS_OK && !hooks.endWithCapture ? captured : out;
}

// What the command line asks of decode.
struct DecodeOptions {
    LinkOptions link; // a live device, when link.device is set
    const char *path = "-";
    const char *pcap = nullptr;
    bool hex = false;
    bool timed = false;
    bool outbound = false;
    bool reconnect = true;
};

// What goes with what, checked once all the options are read. -1 when
// they fit together, else STATUS_USAGE.
int checkDecode(const char *name, const DecodeOptions &o, int paths)
{
    if (o.link.lineGiven && o.link.device == nullptr)
        return usageError(name, "--baud, --databits, --parity, --stopbits and --flow need "
                                "--device");
    if (!o.reconnect && o.link.device == nullptr)
        return usageError(name, "--no-reconnect needs --device");
    if (o.link.device != nullptr && paths > 0)
        return usageError(name, "--device or FILE, not both");
    if (o.link.device != nullptr && o.hex)
        return usageError(name, "--hex reads text, not a device");
    if (o.outbound && o.pcap == nullptr)
        return usageError(name, "--outbound marks the frames of --pcap");
    return -1;
}

// Reads the options into o. -1 when they are fine, else the exit status
// (help printed, or a usage error said).
int parseDecode(int argc, char **argv, DecodeOptions &o)
{
    const char *name = argv[0];
    int paths = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        int status = STATUS_OK;
        const int taken = takeDeviceOption(argc, argv, i, USAGE, o.link, status);
        if (taken < 0)
            return status;
        if (taken > 0)
            continue;
        if (std::strcmp(arg, "--no-reconnect") == 0)
            o.reconnect = false;
        else if (std::strcmp(arg, "--hex") == 0)
            o.hex = true;
        else if (std::strcmp(arg, "--time") == 0)
            o.timed = true;
        else if (std::strcmp(arg, "--outbound") == 0)
            o.outbound = true;
        else if (takeValue(argc, argv, i, "--pcap", o.pcap)) {
            if (o.pcap == nullptr || *o.pcap == '\0')
                return usageError(name, "--pcap needs a file");
        } else if (isOption(arg))
            return usageError(name, std::string("unknown option ") + arg);
        else if (++paths > 1)
            return usageError(name, "one input at a time");
        else
            o.path = arg;
    }
    return checkDecode(name, o, paths);
}

// Lists the frames of a capture written in hex; the exit status.
int listHex(const char *name, const DecodeOptions &o, Capture &capture, FrameSink *sink)
{
    const int fd = openInput(o.path);
    if (fd < 0)
        return failure(name, std::string(o.path) + ": " + std::strerror(errno));
    std::vector<unsigned char> text;
    std::vector<unsigned char> bytes;
    std::string error;
    if (!readAll(fd, text))
        return failure(name, std::string(o.path) + ": " + std::strerror(errno));
    if (!parseHex(reinterpret_cast<const char *>(text.data()), text.size(), bytes, error))
        return usageError(name, std::string(o.path) + ": bad hex: " + error);
    Lister::header(o.timed);
    Lister lister;
    lister.setSink(sink);
    if (o.timed)
        lister.setPrefix("  0.000000  ");
    lister.arrived();
    lister.feed(bytes.data(), bytes.size());
    lister.finish();
    const int captured = capture.finish(name, 0);
    const int status = finishOutput(name);
    return captured != STATUS_OK ? captured : status;
}

// Lists what o names: a capture, standard input or a device; the exit
// status.
int decode(const char *name, const DecodeOptions &o)
{
    const StopSignals stop;
    Capture capture;
    std::string pcapError;
    if (o.pcap != nullptr &&
        !capture.open(o.pcap, o.link.device != nullptr ? o.link.device : o.path, stop, pcapError))
        return stop.stopped() ? STATUS_OK : failure(name, pcapError);
    FrameSink *sink = capture.active() ? capture.sink(o.outbound ? '>' : '<') : nullptr;
    if (o.hex)
        return listHex(name, o, capture, sink);
    if (o.link.device != nullptr)
        return listDevice(name, o.link, o.reconnect, o.timed, capture, sink, stop, LiveHooks());
    const int fd = openInput(o.path);
    if (fd < 0) {
        capture.discard();
        return failure(name, std::string(o.path) + ": " + std::strerror(errno));
    }
    return listLive(name, Source{o.path, fd, nullptr, LineSettings()}, o.timed, capture, sink,
                    stop);
}

} // namespace

int listDevice(const char *name, const LinkOptions &link, bool reconnect, bool timed,
               Capture &capture, FrameSink *sink, const StopSignals &stop, const LiveHooks &hooks)
{
    LiveOutput live(name, hooks.quiet);
    capture.goLive(name);
    ReconnectingDevice device(reconnect);
    std::string error;
    if (!device.open(link, error)) {
        capture.discard();
        return failure(name, error);
    }
    return listLive(name, Source{link.device, device.fd(), &device, link.line}, timed, capture,
                    sink, stop, hooks);
}

int runDecode(int argc, char **argv)
{
    DecodeOptions options;
    const int status = parseDecode(argc, argv, options);
    return status >= 0 ? status : decode(argv[0], options);
}
