// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Uses the installed headers and libraries the way a host program does.
// Both include forms must work: the folder-qualified one the documentation
// shows, and the plain one older hosts use.
#include <cstdio>
#include <cstring>

#include <vemutils/hdlc.h>
#include <vemutils/textutils.h>

#include "hdlc.h"
#include "vemconfig.h"

int main()
{
    unsigned char payload[] = {'a', 'b', 'c', 0x7E};
    unsigned char wire[2 * sizeof payload + 6];
    int wireLen = 0;
    cHDLC link;
    link.frameData(payload, sizeof payload, wire, &wireLen);

    unsigned char rx[1023];
    int rxLen = -1;
    bool got = false;
    for (int i = 0; i < wireLen; ++i)
        got = link.unFrameByte(wire[i], rx, &rxLen);
    if (!got || rxLen != static_cast<int>(sizeof payload) ||
        std::memcmp(rx, payload, sizeof payload) != 0) {
        std::puts("consumer: round trip failed");
        return 1;
    }
    char line[] = "set rate,115200";
    char **args = cArgParser::parseList(line, ' ', ',');
    const bool split = cArgParser::argCnt(args) == 3 && std::strcmp(args[2], "115200") == 0;
    delete[] args;
    if (!split || cConfig::getInt("rate", 9600) != 9600) {
        std::puts("consumer: text utilities or configuration failed");
        return 1;
    }
    std::puts("consumer: ok");
    return 0;
}
