// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_LIVE_H
#define VEMLINK_LIVE_H

// What the live commands (tap, decode --device, monitor) share: the
// options the extcap entry fills in as the command line does, and one way
// of telling a device's comings and goings and the running summary.
#include <functional>
#include <initializer_list>
#include <string>

#include "impair/settings.h"
#include "serial/device.h"
#include "serial/reconnect.h"

class Lister;

// Set by the extcap entry, left as they are by the command line.
struct LiveHooks {
    // Standard error carries errors only: Wireshark shows every line as one.
    bool quiet = false;
    // The capture's reader going away ends the command (Wireshark stopped).
    bool endWithCapture = false;
    // Told the path of the application's end once the tap has made it.
    std::function<void(const std::string &appEnd)> appEnd;
};

// What the command line asks of a tap.
struct TapOptions {
    LinkOptions link;
    const char *linkPath = nullptr;
    const char *prefix = nullptr; // --save
    const char *pcap = nullptr;
    bool force = false;
    bool reconnect = true;
    // --to-device and --to-app (given: impairments were), and --seed.
    impair::Settings toDevice;
    impair::Settings toApp;
    unsigned long long seed = 0;
    bool seedGiven = false;
};

int runTap(const char *name, const TapOptions &options, const LiveHooks &hooks);

// --to-device IMPAIRMENTS, --to-app IMPAIRMENTS and --seed N, in that
// order (each nullptr, or empty, when not given), into o for command name:
// -1 when they are fine, else STATUS_USAGE, said.
int takeImpairments(const char *name, const char *const given[3], TapOptions &o);

class Capture;
class FrameSink;
class StopSignals;

// decode --device: lists the frames a device sends, at the line of link.
int listDevice(const char *name, const LinkOptions &link, bool reconnect, bool timed,
               Capture &capture, FrameSink *sink, const StopSignals &stop, const LiveHooks &hooks);

// monitor: lists both lines of a link through adapters a and b.
int listMonitor(const char *name, const LinkOptions &link, const char *a, const char *b,
                bool reconnect, const char *pcap, const LiveHooks &hooks);

// Lists a device's event in the words every command uses, after prefix
// (the time and mark columns), and says it on standard error for command.
void reportEvent(const char *command, const ReconnectingDevice &device, DeviceEvent event,
                 const std::string &prefix);

// The listing's prefix of an event at seconds, with a direction mark.
std::string eventPrefix(double seconds, char mark);

// What every device command takes first from argv[i]: -h and --help (the
// usage, with the line options, on standard output), --device and the line
// options (see takeLinkOption). 1 when taken (i moved past a separate
// value), 0 for any other argument, -1 when the command is done: status
// holds its exit status (help given, or a usage error said).
int takeDeviceOption(int argc, char **argv, int &i, const char *usage, LinkOptions &link,
                     int &status);

// One direction's lister and the label of its summary line (" >", " <", "").
struct Labelled {
    const Lister &lister;
    const char *label;
};

// When SIGUSR1 asked for it since the last look: the running summary of
// each lister on standard error. True when it was given.
bool summaryOnRequest(const StopSignals &stop, const char *command,
                      std::initializer_list<Labelled> listers);

#endif
