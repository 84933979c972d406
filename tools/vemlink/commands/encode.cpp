// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemlink encode: the frame cHDLC builds for one payload, as hex.
#include <cerrno>
#include <cstring>

#include "cli.h"
#include "hdlc.h"
#include "listing/hex.h"
#include "listing/output.h"

namespace {

const char *const USAGE =
    "usage: vemlink encode [--raw] [HEX...|-]\n"
    "\n"
    "Prints the frame for one payload of 0 to 1021 bytes, as hex on one line.\n"
    "The payload is given in hex, or read raw from standard input with '-' or no\n"
    "argument.\n"
    "\n"
    "  --raw    write the frame's bytes themselves\n"
    "\n"
    "  vemlink encode 61 62 63     prints 7E 61 62 63 25 9E 7E\n"
    "\n"
    "See vemlink(1) for the exit status.\n";

} // namespace

int runEncode(int argc, char **argv)
{
    const char *name = argv[0];
    std::vector<unsigned char> payload;
    bool raw = false;
    int hexArgs = 0;
    int dashes = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isHelp(arg)) {
            std::fputs(USAGE, stdout);
            return finishOutput(name);
        }
        if (std::strcmp(arg, "--raw") == 0) {
            raw = true;
            continue;
        }
        if (std::strcmp(arg, "-") == 0) {
            ++dashes;
            continue;
        }
        if (isOption(arg))
            return usageError(name, std::string("unknown option ") + arg);
        ++hexArgs;
        std::string error;
        if (!parseHex(arg, std::strlen(arg), payload, error))
            return usageError(name, "bad hex payload: " + error);
    }
    if (dashes > 1 || (dashes == 1 && hexArgs > 0))
        return usageError(name, "'-' reads the payload from standard input and takes "
                                "no hex arguments beside it");
    bool over = false;
    if (hexArgs == 0 && !readAtMost(0, payload, static_cast<size_t>(frame::MAX_PAYLOAD), over))
        return failure(name, std::string("reading standard input: ") + std::strerror(errno));
    if (over || payload.size() > static_cast<size_t>(frame::MAX_PAYLOAD))
        return payloadTooLong(name, payload.size(), over);

    const int len = static_cast<int>(payload.size());
    std::vector<unsigned char> frame(2 * payload.size() + 6);
    int frameLen = 0;
    cHDLC framer;
    framer.frameData(payload.data(), len, frame.data(), &frameLen);
    // Through the listing's output, which reports a closed standard output.
    std::string text;
    if (raw) {
        text.assign(reinterpret_cast<const char *>(frame.data()), static_cast<size_t>(frameLen));
    } else {
        appendHex(text, frame.data(), static_cast<size_t>(frameLen));
        text += '\n';
    }
    output::line(text);
    return finishOutput(name);
}
