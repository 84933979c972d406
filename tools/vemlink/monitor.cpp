// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink monitor: listens on both lines of a link between two devices,
// each through a receive-only serial adapter, and lists the frames of both
// in one listing, as a tap does.
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "capture.h"
#include "cli.h"
#include "device.h"
#include "lister.h"
#include "output.h"

namespace {

const char *const USAGE =
    "usage: vemlink monitor A B [--baud N] [--databits 5|6|7|8] [--parity P]\n"
    "                       [--stopbits 1|2] [--flow F] [--pcap FILE]\n"
    "\n"
    "Listens on a link between two devices through two serial adapters whose\n"
    "receive lines are wired to the link's two lines (ground shared, their\n"
    "transmit lines left free): A to the line one device sends on, B to the\n"
    "other's. Nothing is ever written to either. Both are set raw with the\n"
    "same line settings, by default 115200 8N1. The frames are listed as 'vemlink tap' lists them, "
    "in the\n"
    "order they arrive, after the seconds since the start and the direction:\n"
    "\n"
    "  >   read on A\n"
    "  <   read on B\n"
    "\n"
    "SIGINT (Ctrl-C), SIGTERM, SIGHUP or SIGQUIT ends it: any partial frames,\n"
    "a summary per direction and exit status 0. A hang-up or an error of either adapter\n"
    "ends it with the summary and exit status 1.\n"
    "\n"
    "  A, B             the two adapters\n"
    "  {LINE}\n"
    "  --pcap FILE      also write the frames to FILE as pcapng for Wireshark\n"
    "                   (see 'vemlink tap --help'); '-' is standard output\n"
    "\n"
    "Exit status 2 on bad arguments; 1 when an adapter cannot be opened or set\n"
    "up, is in use, hangs up or fails, the capture cannot be written, or\n"
    "standard output is closed. The listing never holds up the adapters: when\n"
    "its reader falls behind, lines are dropped and counted; nor does a\n"
    "capture into a pipe or a FIFO: whole records are dropped and counted\n"
    "(see 'vemlink tap --help').\n";

// How long the summary waits for a slow reader of the listing at the end.
const int FINAL_FLUSH_MS = 1000;

struct Line {
    explicit Line(char mark) : mark(mark) {}
    const char mark;
    LinkOptions options;
    Device device;
    Lister lister;
};

} // namespace

int runMonitor(int argc, char **argv)
{
    const char *name = argv[0];
    LinkOptions link;
    const char *paths[2] = {nullptr, nullptr};
    const char *pcap = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(withLineOptions(USAGE).c_str(), stdout);
            return finishOutput(name);
        }
        std::string error;
        const char *value = nullptr;
        const int taken = takeLinkOption(argc, argv, i, link, error);
        if (taken < 0)
            return usageError(name, error);
        if (taken > 0 && link.device != nullptr)
            return usageError(name, "give the adapters as A B");
        if (taken > 0)
            continue;
        if (takeValue(argc, argv, i, "--pcap", value)) {
            if (value == nullptr || *value == '\0')
                return usageError(name, "--pcap needs a file");
            pcap = value;
        } else if (isOption(arg)) {
            return usageError(name, std::string("unknown option ") + arg);
        } else if (paths[1] != nullptr) {
            return usageError(name, "two adapters, A and B");
        } else {
            paths[paths[0] == nullptr ? 0 : 1] = arg;
        }
    }
    if (paths[1] == nullptr)
        return usageError(name, "two adapters needed, A and B");

    // Handlers first, then the capture (a FIFO may wait for its reader),
    // then the listing goes live, then the adapters: each released in the
    // reverse order on every way out.
    const StopSignals stop;
    std::string error;
    Capture capture;
    if (pcap != nullptr &&
        !capture.open(pcap, std::string(paths[0]) + " > " + paths[1] + " <", error))
        return failure(name, error);
    LiveOutput live(name);
    Line lines[2] = {Line('>'), Line('<')};
    for (int k = 0; k < 2; ++k) {
        lines[k].options = link;
        lines[k].options.device = paths[k];
        if (!lines[k].device.open(lines[k].options, error))
            return failure(name, error);
        if (capture.active())
            lines[k].lister.setSink(capture.sink(lines[k].mark));
    }
    std::fprintf(stderr, "vemlink monitor: %s (>) and %s (<) at %s\n", paths[0], paths[1],
                 describe(link.line).c_str());

    const Clock clock;
    Lister::header(true);
    output::flush();
    std::string fault; // why an adapter ended the monitor
    unsigned char chunk[65536];
    while (!stop.stopped() && fault.empty() && !output::broken()) {
        // The listing and the capture only when they wait for a reader.
        pollfd fds[4] = {{lines[0].device.fd(), POLLIN, 0},
                         {lines[1].device.fd(), POLLIN, 0},
                         {output::pending() ? STDOUT_FILENO : -1, POLLOUT, 0},
                         {capture.pending() ? capture.fd() : -1, POLLOUT, 0}};
        const int ready = stop.wait(fds, 4, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return failure(name, std::string("poll: ") + std::strerror(errno));
        for (int k = 0; k < 2 && fault.empty(); ++k) {
            Line &l = lines[k];
            if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0)
                continue;
            const ssize_t n = read(l.device.fd(), chunk, sizeof chunk);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            // A terminal whose other side hung up reads EIO.
            if (n == 0 || (n < 0 && errno == EIO))
                fault = std::string(paths[k]) + ": hang-up";
            else if (n < 0)
                fault = std::string(paths[k]) + ": reading: " + std::strerror(errno);
            if (n <= 0)
                break;
            l.lister.arrived();
            char prefix[32];
            std::snprintf(prefix, sizeof prefix, "%10.6f %c", clock.seconds(), l.mark);
            l.lister.setPrefix(prefix);
            l.lister.feed(chunk, static_cast<size_t>(n));
        }
        output::flush();
        capture.flush();
    }

    if (!fault.empty())
        std::fprintf(stderr, "vemlink monitor: %s\n", fault.c_str());
    lines[0].lister.setPrefix("           >");
    lines[1].lister.setPrefix("           <");
    lines[0].lister.finish(" >");
    lines[1].lister.finish(" <");
    int status = fault.empty() ? STATUS_OK : STATUS_FAILED;
    if (capture.finish(name, FINAL_FLUSH_MS) != STATUS_OK)
        status = STATUS_FAILED;
    if (output::finish(name, FINAL_FLUSH_MS) != STATUS_OK)
        status = STATUS_FAILED;
    return status;
}
