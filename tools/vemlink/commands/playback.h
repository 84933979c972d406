// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_PLAYBACK_H
#define VEMLINK_PLAYBACK_H

// What replay and mock share: a recorded frame put back on the wire, the
// application's end they make and watch, a wait to a point in time, and
// the summary of how far from its plan each frame went out.
#include <chrono>
#include <string>
#include <vector>

#include "capture/files.h"
#include "capture/pcapng_reader.h"
#include "serial/link.h"
#include "serial/signals.h"

// The bytes a recorded frame put on the wire: the opening flag, the bytes
// between the flags as recorded, and the closing flag, except for a partial
// frame, which the stream ended before a flag came.
std::vector<unsigned char> onWire(const CaptureRecord &r);

// The payload of an ok frame's wire bytes between its flags, as a receiver
// delivers it (empty for a frame that is not ok).
std::vector<unsigned char> payloadOf(const unsigned char *wire, size_t n);

// Reads the capture at path; on a fault says it for command and returns
// STATUS_USAGE, else -1.
int loadCapture(const char *command, const char *path, std::vector<CaptureRecord> &records);

// The application's end: a pseudo-terminal, set raw at the options' line,
// linked from a path. This program does not hold the receiving end, so
// that it sees when the application opens and closes it.
class AppEnd {
public:
    // False with the reason in error; nothing is left behind.
    bool open(const char *linkPath, std::string &error);

    int fd() const { return mPty.sender(); }
    const std::string &name() const { return mPty.name(); }

    // The application holds its end open now.
    bool held() const;

    // Waits until the application opens its end, or a stop. False on a
    // stop.
    bool waitHeld(const StopSignals &stop) const;

    // Waits up to waitMs for the application to read everything written
    // to it: closing the sending end throws away what it has not read.
    void drain(int waitMs, const StopSignals &stop) const;

private:
    PtyLink mPty;
    LinkPath mLink;
};

// How late each frame went out against its plan, in seconds.
class TimingErrors {
public:
    void add(double late) { mLate.push_back(late); }
    // "timing error: p50 0.061 ms, p99 0.230 ms, max 0.245 ms (12 frames)".
    std::string summary() const;

private:
    std::vector<double> mLate;
};

// Waits on fds up to the point in time due (steady clock), or a stop. The
// poll's result, 0 when due came.
int waitUntil(const StopSignals &stop, pollfd *fds, nfds_t n,
              std::chrono::steady_clock::time_point due);

#endif
