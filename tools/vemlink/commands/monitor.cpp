// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink monitor: listens on both lines of a link between two devices,
// each through a receive-only serial adapter, and lists the frames of both
// in one listing, as a tap does. An adapter that goes away is waited for on
// its own while the other is still listened to.
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "capture/capture.h"
#include "cli.h"
#include "serial/device.h"
#include "listing/lister.h"
#include "listing/output.h"

namespace {

const char *const USAGE =
    "usage: vemlink monitor A B [LINE OPTIONS] [--no-reconnect] [--pcap FILE]\n"
    "\n"
    "Lists the frames on both lines of a link between two devices, read through\n"
    "two receive-only adapters: > read on A, < read on B. Nothing is written.\n"
    "\n"
    "  A, B                    the two adapters\n"
    "  {LINE}\n"
    "  --no-reconnect          end when an adapter goes away instead of waiting\n"
    "  --pcap FILE             the frames as pcapng too ('-': standard output)\n"
    "\n"
    "See vemlink(1) for the wiring, listing, events, signals and exit status.\n";

// How long the summary waits for a slow reader of the listing at the end.
const int FINAL_FLUSH_MS = 1000;

struct Line {
    Line(char mark, char name) : mark(mark), name(name) {}
    const char mark;
    const char name; // 'A' or 'B'
    LinkOptions options;
    Device device;
    Lister lister;
    long gone = 0; // times the adapter went away
};

} // namespace

int runMonitor(int argc, char **argv)
{
    const char *name = argv[0];
    LinkOptions link;
    const char *paths[2] = {nullptr, nullptr};
    const char *pcap = nullptr;
    bool reconnect = true;
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
        } else if (std::strcmp(arg, "--no-reconnect") == 0) {
            reconnect = false;
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
    Line lines[2] = {Line('>', 'A'), Line('<', 'B')};
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
        const int ready = stop.wait(fds, 4, reconnect ? Device::RETRY_MS : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return failure(name, std::string("poll: ") + std::strerror(errno));
        for (int k = 0; k < 2 && fault.empty(); ++k) {
            Line &l = lines[k];
            if (reconnect && l.device.fd() < 0) {
                if (l.device.reopen(l.options.line)) {
                    listEvent(clock.seconds(), l.mark, "device back");
                    std::fprintf(stderr, "vemlink monitor: %s is back\n", paths[k]);
                }
                continue;
            }
            std::string why; // set when the adapter went away
            ssize_t n = -1;
            if (reconnect && l.device.vanished()) {
                why = "its path is gone";
            } else {
                if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0)
                    continue;
                n = read(l.device.fd(), chunk, sizeof chunk);
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                // A terminal whose other side hung up reads EIO.
                if (n == 0 || (n < 0 && errno == EIO))
                    why = "hang-up";
                else if (n < 0)
                    why = std::string("reading: ") + std::strerror(errno);
            }
            if (!why.empty() && !reconnect) {
                fault = std::string(paths[k]) + ": " + why;
            } else if (!why.empty()) {
                ++l.gone;
                l.device.lose();
                listEvent(clock.seconds(), l.mark, "device gone, waiting");
                std::fprintf(stderr, "vemlink monitor: %s: %s; waiting for it to come back\n",
                             paths[k], why.c_str());
            } else {
                l.lister.arrived();
                char prefix[32];
                std::snprintf(prefix, sizeof prefix, "%10.6f %c", clock.seconds(), l.mark);
                l.lister.setPrefix(prefix);
                l.lister.feed(chunk, static_cast<size_t>(n));
            }
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
    for (const Line &l : lines)
        if (l.gone > 0)
            output::line("device gone " + std::to_string(l.gone) +
                         (l.gone == 1 ? " time" : " times") + " on " + l.name + " (" + l.mark +
                         ")\n");
    int status = fault.empty() ? STATUS_OK : STATUS_FAILED;
    if (capture.finish(name, FINAL_FLUSH_MS) != STATUS_OK)
        status = STATUS_FAILED;
    if (output::finish(name, FINAL_FLUSH_MS) != STATUS_OK)
        status = STATUS_FAILED;
    return status;
}
