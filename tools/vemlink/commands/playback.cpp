// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "commands/playback.h"

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli.h"
#include "hdlc.h"
#include "listing/output.h"
#include "serial/device.h"
#include "serial/line.h"

namespace {

// How often a wait for the application's end looks again: POLLHUP on the
// sending end cannot be waited for, only looked at.
const int LOOK_MS = 10;

} // namespace

std::vector<unsigned char> onWire(const CaptureRecord &r)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(r.wire.size() + 2);
    bytes.push_back(cHDLC::HDLC_FLAG);
    bytes.insert(bytes.end(), r.wire.begin(), r.wire.end());
    if (r.status != frame::Outcome::PARTIAL)
        bytes.push_back(cHDLC::HDLC_FLAG);
    return bytes;
}

std::vector<unsigned char> payloadOf(const unsigned char *wire, size_t n)
{
    cHDLC framer;
    frame::Receiver receiver(framer);
    receiver.take(cHDLC::HDLC_FLAG);
    for (size_t i = 0; i < n; ++i)
        receiver.take(wire[i]);
    if (!receiver.take(cHDLC::HDLC_FLAG) || receiver.outcome() != frame::Outcome::OK)
        return {};
    return {receiver.payload(), receiver.payload() + receiver.payloadLength()};
}

int loadCapture(const char *command, const char *path, std::vector<CaptureRecord> &records)
{
    std::string error;
    if (readCapture(path, records, error))
        return -1;
    output::error(command, error);
    return STATUS_USAGE;
}

bool AppEnd::open(const char *linkPath, std::string &error)
{
    if (!mPty.open(error)) {
        error = "creating the application's pseudo-terminal: " + error;
        return false;
    }
    if (!applyLine(mPty.receiver(), mPty.name().c_str(), LineSettings(), error)) {
        error = "setting up the application's pseudo-terminal: " + error;
        return false;
    }
    if (linkPath != nullptr && !mLink.make(linkPath, mPty.name(), error))
        return false;
    mPty.releaseReceiver();
    return true;
}

bool AppEnd::held() const
{
    pollfd fd{mPty.sender(), 0, 0};
    return poll(&fd, 1, 0) >= 0 && (fd.revents & POLLHUP) == 0;
}

bool AppEnd::waitHeld(const StopSignals &stop) const
{
    while (!stop.stopped()) {
        if (held())
            return true;
        output::flush();
        stop.pause(LOOK_MS);
    }
    return false;
}

void AppEnd::drain(int waitMs, const StopSignals &stop) const
{
    // The receiving end's queue, seen through a descriptor of our own.
    // Written bytes reach it a moment after the write (the kernel moves
    // them in a work of its own), so it must read empty twice, a look
    // apart, after a first look's pause.
    const int fd = ::open(mPty.name().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    const Clock clock;
    int empty = 0;
    while (empty < 2 && !stop.stopped() && clock.seconds() * 1000 < waitMs) {
        stop.pause(LOOK_MS);
        int queued = 0;
        empty = ioctl(fd, FIONREAD, &queued) == 0 && queued == 0 ? empty + 1 : 0;
    }
    ::close(fd);
}

std::string TimingErrors::summary() const
{
    if (mLate.empty())
        return "timing error: no frames";
    std::vector<double> late = mLate;
    std::sort(late.begin(), late.end());
    const auto at = [&late](double q) {
        return late[static_cast<size_t>(q * static_cast<double>(late.size() - 1) + 0.5)] * 1000;
    };
    char text[128];
    std::snprintf(text, sizeof text, "timing error: p50 %.3f ms, p99 %.3f ms, max %.3f ms (%zu %s)",
                  at(0.5), at(0.99), late.back() * 1000, late.size(),
                  late.size() == 1 ? "frame" : "frames");
    return text;
}

int waitUntil(const StopSignals &stop, pollfd *fds, nfds_t n,
              std::chrono::steady_clock::time_point due)
{
    const auto left = due - std::chrono::steady_clock::now();
    return stop.wait(fds, n,
                     std::max(std::chrono::nanoseconds(0),
                              std::chrono::duration_cast<std::chrono::nanoseconds>(left)));
}
