// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "commands/live.h"

#include "cli.h"

#include <cstdio>

#include "listing/lister.h"
#include "listing/output.h"
#include "serial/signals.h"

int takeDeviceOption(int argc, char **argv, int &i, const char *usage, LinkOptions &link,
                     int &status)
{
    const char *name = argv[0];
    if (isHelp(argv[i])) {
        std::fputs(withLineOptions(usage).c_str(), stdout);
        status = finishOutput(name);
        return -1;
    }
    std::string error;
    const int taken = takeLinkOption(argc, argv, i, link, error);
    if (taken < 0)
        status = usageError(name, error);
    return taken;
}

std::string eventPrefix(double seconds, char mark)
{
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%10.6f %c ", seconds, mark);
    return prefix;
}

void reportEvent(const char *command, const ReconnectingDevice &device, DeviceEvent event,
                 const std::string &prefix)
{
    const std::string &path = device.path();
    switch (event) {
    case DeviceEvent::GONE:
        output::info(command, path + ": " + device.why() + "; waiting for it to come back");
        break;
    case DeviceEvent::BACK:
        output::info(command, path + " is back");
        break;
    case DeviceEvent::BUSY:
        output::error(command, path + " is back but in use by another program; waiting");
        break;
    case DeviceEvent::FOREIGN:
        output::error(command, path + " is another adapter now; left alone, waiting");
        break;
    case DeviceEvent::NONE:
    case DeviceEvent::ENDED:
        return;
    }
    output::line(prefix + eventWords(event) + "\n");
}

bool summaryOnRequest(const StopSignals &stop, const char *command,
                      std::initializer_list<Labelled> listers)
{
    if (!stop.summaryAsked())
        return false;
    for (const Labelled &l : listers)
        output::info(command, l.lister.summary(l.label));
    return true;
}
