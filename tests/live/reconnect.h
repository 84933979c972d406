// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_LIVE_RECONNECT_H
#define VEMUTILS_TEST_LIVE_RECONNECT_H

// A device that goes away and comes back under a command that waits for it:
// tap, decode --device or monitor, each on the same steps.

#include <memory>
#include <string>
#include <vector>

#include "fixture.h"

namespace live {

enum class Kind { TAP, DECODE, MONITOR };
// How the device goes: its adapter pulled out (socat ends, its pty and path
// with it), or only its path renamed away while the device still answers.
enum class Away { ADAPTER, RENAMED };

// One device behind the path a command opens.
struct Plug {
    Plug(const std::string &path, Away how, const std::string &log);
    bool plugIn(); // false if the path did not come
    void pull();

    Pty dev;
    std::string path;
    Away how;
    std::string log;
    std::unique_ptr<Adapter> adapter;
};

// A command on one plug (two for monitor), and frames through it.
struct Linked {
    // With unusual, each device is given settings a command would not
    // leave (unusualSettings) before the command starts; kept in before.
    Linked(Kind kind, Away how, const Live &test, const std::vector<std::string> &extra = {},
           bool unusual = false);
    ~Linked();
    Linked(const Linked &) = delete;
    Linked &operator=(const Linked &) = delete;

    // Waits for the command's start (and opens a tap's application end).
    bool started();
    // A frame from plug k's device to the command, listed; for a tap also
    // one from the application to the device, byte for byte.
    void through(int k, const std::string &payload);
    // What the listing shows for plug k's events: "  device back\n"...
    std::string event(int k, const std::string &what) const;
    // Ends the command as a user would (or with sig); its exit status.
    int stop(int sig = 0);
    // Each device's settings are those it had before the command.
    bool settingsBack() const;

    Kind kind;
    std::vector<std::unique_ptr<Plug>> plugs;
    std::unique_ptr<Child> run;
    int app = -1;
    long toApp = 0, toDevice[2] = {0, 0}; // frames delivered each way
    std::vector<termios> before;
};

// Plug k goes away and comes back, while the command says so; meanwhile a
// tap's application writes (and the bytes are counted as dropped) and a
// monitor's other plug is still listened to.
void goneAndBack(Linked &l, int k);

} // namespace live

#endif
