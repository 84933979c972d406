// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// A small host: frames a few packets, feeds the wire bytes back one at a time
// as a receiver would, and prints what it sees on both sides.
// Usage: vemutils-example [log4cpp.properties]
#include <cstdio>
#include <cstring>

#include <log4cpp/PropertyConfigurator.hh>

#include <vemutils/hdlc.h>

static void printHex(const char *label, const unsigned char *p, int n)
{
    std::printf("%-9s", label);
    for (int i = 0; i < n; ++i)
        std::printf(" %02X", p[i]);
    std::printf("\n");
}

int main(int argc, char **argv)
{
    // Logging is the host's business: an optional log4cpp.properties path.
    if (argc > 1) {
        try {
            log4cpp::PropertyConfigurator::configure(argv[1]);
        } catch (const log4cpp::ConfigureFailure &e) {
            std::fprintf(stderr, "log configuration %s: %s\n", argv[1], e.what());
            return 2;
        }
    }
    const char *packets[] = {"get status", "set rate,115200,8N1", "\x7e\x7d binary \x7e"};
    cHDLC framer;
    int failures = 0;
    for (const char *text : packets) {
        unsigned char payload[64];
        const int len = static_cast<int>(std::strlen(text));
        std::memcpy(payload, text, static_cast<size_t>(len));

        unsigned char wire[2 * 64 + 6];
        int wireLen = 0;
        framer.frameData(payload, len, wire, &wireLen);
        printHex("payload", payload, len);
        printHex("wire", wire, wireLen);

        unsigned char rx[1023];
        int rxLen = 0;
        bool got = false;
        for (int i = 0; i < wireLen; ++i)
            got = framer.unFrameByte(wire[i], rx, &rxLen);
        const bool same =
            got && rxLen == len && std::memcmp(rx, payload, static_cast<size_t>(len)) == 0;
        std::printf("received %s (%d bytes)\n\n", same ? "intact" : "WRONG", rxLen);
        failures += same ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
