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
#include "commands/live.h"

namespace {

const char *const USAGE =
    "usage: vemlink monitor A B [LINE OPTIONS] [--no-reconnect] [--pcap FILE]\n"
    "\n"
    "Lists the frames on both lines of a link between two devices, read through\n"
    "two receive-only adapters: > read on A, < read on B. Nothing is written.\n"
    "\n"
    "  A, B                        the two adapters\n"
    "  {LINE}\n"
    "  --no-reconnect              end when an adapter goes away instead of waiting\n"
    "  --pcap FILE                 the frames as pcapng too ('-': standard output)\n"
    "\n"
    "See vemlink(1) for the wiring, listing, events, signals and exit status.\n";

// How long the summary waits for a slow reader of the listing at the end.
const int FINAL_FLUSH_MS = 1000;

struct Line {
    Line(char mark, char name, bool reconnect) : mark(mark), name(name), device(reconnect) {}
    const char mark;
    const char name; // 'A' or 'B'
    LinkOptions options;
    ReconnectingDevice device;
    Lister lister;
};

// A monitor: two adapters, each listened to on its own, each may go away
// and come back on its own.
class Monitor {
public:
    Monitor(const char *name, const StopSignals &stop, const LiveHooks &hooks, bool reconnect)
        : mName(name), mStop(stop),
          mHooks(hooks), mLines{Line('>', 'A', reconnect), Line('<', 'B', reconnect)}
    {
    }

    bool open(const LinkOptions &link, const char *const paths[2], Capture &capture);
    int run(Capture &capture);

private:
    void readLine(Line &l, short revents);
    void onEvent(Line &l, DeviceEvent event);
    int finish(Capture &capture);

    const char *mName;
    const StopSignals &mStop;
    const LiveHooks &mHooks;
    Line mLines[2];
    Clock mClock;
    std::string mFault; // why an adapter ended the monitor
};

bool Monitor::open(const LinkOptions &link, const char *const paths[2], Capture &capture)
{
    std::string error;
    for (Line &l : mLines) {
        l.options = link;
        l.options.device = paths[&l - mLines];
        if (!l.device.open(l.options, error)) {
            failure(mName, error);
            return false;
        }
        if (capture.active())
            l.lister.setSink(capture.sink(l.mark));
    }
    output::info(mName,
                 std::string(paths[0]) + " (>) and " + paths[1] + " (<) at " + describe(link.line));
    mClock = Clock();
    Lister::header(true);
    output::flush();
    return true;
}

int Monitor::run(Capture &capture)
{
    while (!mStop.stopped() && mFault.empty() && !output::broken()) {
        // The listing and the capture only when they wait for a reader.
        pollfd fds[4] = {{mLines[0].device.fd(), POLLIN, 0},
                         {mLines[1].device.fd(), POLLIN, 0},
                         {output::waiting(), POLLOUT, 0},
                         {capture.pending() ? capture.fd() : -1, POLLOUT, 0}};
        if (mStop.wait(fds, 4, Device::RETRY_MS) < 0 && errno != EINTR)
            return failure(mName, std::string("poll: ") + std::strerror(errno));
        for (int k = 0; k < 2 && mFault.empty(); ++k) {
            onEvent(mLines[k], mLines[k].device.tick(mLines[k].options.line));
            if (mLines[k].device.fd() >= 0 && mFault.empty())
                readLine(mLines[k], fds[k].revents);
        }
        summaryOnRequest(mStop, mName, {{mLines[0].lister, " >"}, {mLines[1].lister, " <"}});
        output::flush();
        capture.flush();
        if (mHooks.endWithCapture && (capture.failed() || capture.readerGone()))
            break;
    }
    return finish(capture);
}

void Monitor::readLine(Line &l, short revents)
{
    if ((revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0)
        return;
    unsigned char chunk[65536];
    const ssize_t n = read(l.device.fd(), chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    // A terminal whose other side hung up reads EIO.
    if (n == 0 || (n < 0 && errno == EIO)) {
        onEvent(l, l.device.lose("hang-up"));
    } else if (n < 0) {
        onEvent(l, l.device.lose(std::string("reading: ") + std::strerror(errno)));
    } else {
        l.lister.arrived();
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%10.6f %c", mClock.seconds(), l.mark);
        l.lister.setPrefix(prefix);
        l.lister.feed(chunk, static_cast<size_t>(n));
    }
}

void Monitor::onEvent(Line &l, DeviceEvent event)
{
    if (event == DeviceEvent::ENDED)
        mFault = l.device.path() + ": " + l.device.why();
    else
        reportEvent(mName, l.device, event, eventPrefix(mClock.seconds(), l.mark));
}

int Monitor::finish(Capture &capture)
{
    if (!mFault.empty())
        output::error(mName, mFault);
    mLines[0].lister.setPrefix("           >");
    mLines[1].lister.setPrefix("           <");
    mLines[0].lister.finish(" >");
    mLines[1].lister.finish(" <");
    for (const Line &l : mLines)
        if (l.device.gone() > 0)
            output::closing("device gone " + std::to_string(l.device.gone()) +
                            (l.device.gone() == 1 ? " time" : " times") + " on " + l.name + " (" +
                            l.mark + ")\n");
    int status = mFault.empty() ? STATUS_OK : STATUS_FAILED;
    if (capture.finish(mName, FINAL_FLUSH_MS) != STATUS_OK && !mHooks.endWithCapture)
        status = STATUS_FAILED;
    if (output::finish(mName, FINAL_FLUSH_MS) != STATUS_OK)
        status = STATUS_FAILED;
    return status;
}

} // namespace

int listMonitor(const char *name, const LinkOptions &link, const char *a, const char *b,
                bool reconnect, const char *pcap, const LiveHooks &hooks)
{
    // Handlers first, then the capture (a FIFO may wait for its reader),
    // then the listing goes live, then the adapters: each released in the
    // reverse order on every way out.
    const StopSignals stop;
    std::string error;
    Capture capture;
    if (pcap != nullptr && !capture.open(pcap, std::string(a) + " > " + b + " <", stop, error))
        return stop.stopped() ? STATUS_OK : failure(name, error);
    LiveOutput live(name, hooks.quiet);
    capture.goLive(name);
    Monitor monitor(name, stop, hooks, reconnect);
    const char *const paths[2] = {a, b};
    if (!monitor.open(link, paths, capture)) {
        capture.discard();
        return STATUS_FAILED;
    }
    return monitor.run(capture);
}

int runMonitor(int argc, char **argv)
{
    const char *name = argv[0];
    LinkOptions link;
    const char *paths[2] = {nullptr, nullptr};
    const char *pcap = nullptr;
    bool reconnect = true;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        int status = STATUS_OK;
        const int taken = takeDeviceOption(argc, argv, i, USAGE, link, status);
        if (taken < 0)
            return status;
        const char *value = nullptr;
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

    return listMonitor(name, link, paths[0], paths[1], reconnect, pcap, LiveHooks());
}
