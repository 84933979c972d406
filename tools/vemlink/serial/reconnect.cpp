// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "serial/reconnect.h"

#include <climits>
#include <cstdlib>
#include <fstream>

#include <sys/stat.h>

namespace {

const char PTS[] = "/dev/pts/";

std::string firstLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB adapter behind a device path, "VID:PID SERIAL" as sysfs tells
// (the interface's parents up to the one with idVendor), "" for anything
// else: a pseudo-terminal, a built-in UART, a path that is not there.
std::string usbIdentity(const std::string &path)
{
    char real[PATH_MAX];
    if (realpath(path.c_str(), real) == nullptr)
        return "";
    std::string node = real;
    node = node.substr(node.rfind('/') + 1);
    char dir[PATH_MAX];
    const std::string link = "/sys/class/tty/" + node + "/device";
    if (realpath(link.c_str(), dir) == nullptr)
        return "";
    for (std::string d = dir; d.size() > 5; d = d.substr(0, d.rfind('/'))) {
        const std::string vendor = firstLine(d + "/idVendor");
        if (!vendor.empty())
            return vendor + ":" + firstLine(d + "/idProduct") + " " + firstLine(d + "/serial");
    }
    return "";
}

} // namespace

const char *eventWords(DeviceEvent event)
{
    switch (event) {
    case DeviceEvent::GONE:
        return "device gone, waiting";
    case DeviceEvent::BACK:
        return "device back";
    case DeviceEvent::BUSY:
        return "device busy, waiting";
    case DeviceEvent::FOREIGN:
        return "device back as another adapter, left alone";
    case DeviceEvent::NONE:
    case DeviceEvent::ENDED:
        break;
    }
    return "";
}

bool ReconnectingDevice::open(const LinkOptions &link, std::string &error)
{
    mLink = link;
    mPath = link.device;
    mLink.device = mPath.c_str();
    mIdentity = usbIdentity(mPath);
    return mDevice.open(mLink, error);
}

DeviceEvent ReconnectingDevice::lose(const std::string &why, bool restore)
{
    if (mDevice.fd() < 0) // already said, by another sign of the same end
        return DeviceEvent::NONE;
    mDevice.close(restore);
    mWhy = why;
    if (!mReconnect)
        return DeviceEvent::ENDED;
    if (mPath.compare(0, sizeof PTS - 1, PTS) == 0) {
        mWhy = why + "; a pseudo-terminal is not waited for, since its number is reused";
        return DeviceEvent::ENDED;
    }
    ++mGone;
    mSaidBusy = mSaidForeign = false;
    return DeviceEvent::GONE;
}

DeviceEvent ReconnectingDevice::tick(const LineSettings &line)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - mTicked < std::chrono::milliseconds(Device::RETRY_MS))
        return DeviceEvent::NONE;
    mTicked = now;
    if (mDevice.fd() < 0)
        return mReconnect ? reopen(line) : DeviceEvent::NONE;
    // Without reconnecting, only a hang-up or an error ends the command: a
    // path gone while the device still answers is not looked for.
    if (!mReconnect || !mDevice.vanished())
        return DeviceEvent::NONE;
    // It still answers: it gets its settings back before it goes.
    return lose("its path is gone", true);
}

DeviceEvent ReconnectingDevice::reopen(const LineSettings &line)
{
    struct stat st {};
    if (stat(mPath.c_str(), &st) != 0)
        return DeviceEvent::NONE;
    const std::string identity = usbIdentity(mPath);
    if (identity != mIdentity && !mIdentity.empty()) {
        const bool said = mSaidForeign;
        mSaidForeign = true;
        return said ? DeviceEvent::NONE : DeviceEvent::FOREIGN;
    }
    LinkOptions link = mLink;
    link.line = line;
    std::string error;
    if (mDevice.open(link, error))
        return DeviceEvent::BACK;
    if (!mDevice.busy() || mSaidBusy)
        return DeviceEvent::NONE;
    mSaidBusy = true;
    return DeviceEvent::BUSY;
}
