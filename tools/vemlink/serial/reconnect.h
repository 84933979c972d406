// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_RECONNECT_H
#define VEMLINK_RECONNECT_H

// A serial device that may go away and come back, as tap, decode --device
// and monitor use it: it tells "gone" and "back" as events that every
// command lists in the same words, and reopens only the same device. Its
// settings at the first open are the ones put back, however often it
// returns.
#include <chrono>
#include <string>

#include "serial/device.h"

enum class DeviceEvent {
    NONE,
    GONE,    // went away; waiting for it
    BACK,    // open again, at the same settings, locked
    BUSY,    // there again, but another program holds it; still waiting
    FOREIGN, // another USB adapter at the path; left alone, still waiting
    ENDED,   // went away and is not waited for: why() tells why
};

// The words a listing shows for an event, "" for NONE and ENDED.
const char *eventWords(DeviceEvent event);

class ReconnectingDevice {
public:
    explicit ReconnectingDevice(bool reconnect) : mReconnect(reconnect) {}

    // Opens the device the first time (see Device::open) and notes which
    // adapter it is.
    bool open(const LinkOptions &link, std::string &error);

    int fd() const { return mDevice.fd(); }
    const std::string &path() const { return mPath; }

    // The device hung up or failed (why: "hang-up", "reading: ..."):
    // closed at once (with restore, after its output drained and its
    // settings are back). GONE, or ENDED without reconnecting or for a
    // path under /dev/pts/, whose number the next pseudo-terminal takes;
    // NONE when it was already gone.
    DeviceEvent lose(const std::string &why, bool restore = false);

    // What no descriptor tells, at most once every Device::RETRY_MS: a
    // path that went away while the device still answers (its settings
    // are put back before it is closed), and a device that is back.
    DeviceEvent tick(const LineSettings &line);

    // Why the device ended the command, after ENDED; and why it went,
    // after GONE.
    const std::string &why() const { return mWhy; }

    bool reconnects() const { return mReconnect; }

    // Times it went away.
    long gone() const { return mGone; }

private:
    DeviceEvent reopen(const LineSettings &line);

    Device mDevice;
    LinkOptions mLink;
    std::string mPath;
    std::string mIdentity; // of a USB adapter: vendor, product, serial
    std::string mWhy;
    bool mReconnect;
    bool mSaidBusy = false;
    bool mSaidForeign = false;
    long mGone = 0;
    std::chrono::steady_clock::time_point mTicked{};
};

#endif
