// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink: shows libvemutils at work on a byte-stream link, and takes link
// bytes apart for whoever is debugging one.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "listing/output.h"

namespace {

const char *const USAGE =
    "usage: vemlink COMMAND [ARGS]\n"
    "\n"
    "  demo [--config FILE]     carry packets over a pseudo-terminal and check them\n"
    "  encode [--raw] [HEX...|-]\n"
    "                           print the frame for a payload, as hex or raw bytes\n"
    "  decode [FILE|-]          list the frames in a capture\n"
    "  decode --device PATH     list the frames on a live device\n"
    "  tap DEVICE               sit between an application and its serial device\n"
    "  send --device PATH [HEX...|-]\n"
    "                           frame payloads, write them to a device, list replies\n"
    "  monitor A B              list the frames on both lines of a link\n"
    "  replay CAPTURE           play one side of a session recorded with tap --pcap\n"
    "  mock CAPTURE             stand in for the recorded device\n"
    "  extcap ...               the Wireshark extcap program (live capture)\n"
    "\n"
    "  --version                print the version\n"
    "\n"
    "'vemlink COMMAND --help' gives a command's options; vemlink(1) is the\n"
    "reference.\n";

} // namespace

int main(int argc, char **argv)
{
    guardStandardDescriptors();
    // A reader of standard output that goes away is reported (EPIPE, "standard
    // output was closed"), not a death by SIGPIPE. No program vemlink starts
    // inherits this: it starts none.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return STATUS_USAGE;
    }
    const char *command = argv[1];
    if (std::strcmp(command, "--version") == 0) {
        std::puts("vemlink " VEMLINK_VERSION);
        return finishOutput("--version");
    }
    if (isHelp(command)) {
        std::fputs(USAGE, stdout);
        return finishOutput("--help");
    }
    if (std::strcmp(command, "demo") == 0)
        return runDemo(argc - 1, argv + 1);
    if (std::strcmp(command, "encode") == 0)
        return runEncode(argc - 1, argv + 1);
    if (std::strcmp(command, "decode") == 0)
        return runDecode(argc - 1, argv + 1);
    if (std::strcmp(command, "tap") == 0)
        return runTap(argc - 1, argv + 1);
    if (std::strcmp(command, "send") == 0)
        return runSend(argc - 1, argv + 1);
    if (std::strcmp(command, "monitor") == 0)
        return runMonitor(argc - 1, argv + 1);
    if (std::strcmp(command, "replay") == 0)
        return runReplay(argc - 1, argv + 1);
    if (std::strcmp(command, "mock") == 0)
        return runMock(argc - 1, argv + 1);
    if (std::strcmp(command, "extcap") == 0)
        return runExtcap(argc - 1, argv + 1);
    std::fprintf(stderr, "vemlink: unknown command '%s'\n%s", command, USAGE);
    return STATUS_USAGE;
}
