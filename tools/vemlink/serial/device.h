// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_DEVICE_H
#define VEMLINK_DEVICE_H

// A serial device as the live commands (tap, decode, send) use it: opened
// non-blocking and set raw at the line settings asked for, its previous
// settings put back when the object goes; one that went away can be opened
// again. And the signals that end a live command in order rather than kill
// it.
#include <chrono>
#include <string>

#include <poll.h>
#include <signal.h>
#include <termios.h>

#include "serial/line.h"
#include "serial/signals.h"

// What the command line says about the link.
struct LinkOptions {
    const char *device = nullptr;
    LineSettings line;
    bool lineGiven = false; // a line option was given
};

// Takes argv[i] when it is --device or a line option (see takeLineOption;
// the values also as --device=PATH, --baud=N), moving i past a separate
// value. Returns 1 when taken, 0 when argv[i] is some other argument, -1 on
// a missing or bad value, described in error.
int takeLinkOption(int argc, char **argv, int &i, LinkOptions &link, std::string &error);

class Device {
public:
    Device() = default;
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;
    // How often a device that went away is looked for: tio looks once a
    // second; a quarter of that is still nothing for the machine.
    static constexpr int RETRY_MS = 200;

    // Waits up to 2 s for the device's output to drain, discards what is
    // still queued after that, restores the settings the device had and
    // closes it, which also gives up the lock.
    ~Device();

    // Opens link.device read-write, non-blocking, not as the controlling
    // terminal, takes it for itself (flock LOCK_EX, then TIOCEXCL) and sets
    // it raw at link.line (see applyLine in line.h): the modem lines
    // ignored (CLOCAL), the receiver on, nothing translated. False with
    // "PATH is in use by another program" (locked or exclusive), "cannot
    // open PATH: reason", "cannot lock PATH: reason", "cannot configure PATH:
    // reason" or "cannot set PATH to N baud: reason" in error; the device is
    // then closed again.
    bool open(const LinkOptions &link, std::string &error);

    // The settings put back at the end are those the device had when it
    // was first opened: an open after close() keeps them.

    // Closes the device. With restore (it still answers: only its path went
    // away), its output drains and its first settings are put back as at
    // the end; without (it hung up or failed), it is closed at once.
    void close(bool restore) { release(restore); }

    // The last open() failed because another program holds the device.
    bool busy() const { return mBusy; }

    // True when the device is open but its path no longer exists.
    bool vanished() const;

    int fd() const { return mFd; }

private:
    void release(bool restore);

    std::string mPath;
    std::chrono::steady_clock::time_point mTried{};
    int mFd = -1;
    bool mSaved = false; // mOld holds the first settings
    bool mBusy = false;
    bool mExclusive = false;
    termios mOld{};
};

// Seconds since a start, for the time column.
class Clock {
public:
    Clock() : mStart(std::chrono::steady_clock::now()) {}
    double seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - mStart).count();
    }

private:
    std::chrono::steady_clock::time_point mStart;
};

// Writes all n bytes to a non-blocking descriptor, waiting for room as long
// as it takes or until stop is asked. False on an error or a stop (errno
// EINTR).
bool writeAll(int fd, const unsigned char *p, size_t n, const StopSignals &stop);

#endif
