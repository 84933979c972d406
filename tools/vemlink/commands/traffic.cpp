// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#include "commands/traffic.h"

#include <cstdio>

#include "textutils.h"

Traffic::Traffic(unsigned seed, int payloadMin, int payloadMax)
    : mRng(seed), mMin(payloadMin), mMax(payloadMax)
{
}

int Traffic::between(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(mRng);
}

// A command word, one space, then the arguments separated by commas.
Packet Traffic::command(std::vector<std::string> words, const char *indent)
{
    std::string line = indent + words[0];
    for (size_t i = 1; i < words.size(); ++i)
        line += (i == 1 ? " " : ",") + words[i];
    return Packet{std::vector<unsigned char>(line.begin(), line.end()), std::move(words)};
}

// Random bytes; with specials, about half of them 7E or 7D, so that most
// bytes need stuffing.
Packet Traffic::binary(int len, bool specials)
{
    Packet p;
    p.bytes.resize(static_cast<size_t>(len));
    for (unsigned char &b : p.bytes) {
        const int v = between(0, specials ? 511 : 255);
        b = static_cast<unsigned char>(v < 256 ? v : (v & 1 ? 0x7E : 0x7D));
    }
    return p;
}

Packet Traffic::next()
{
    static const char *const rates[] = {"9600", "19200", "57600", "115200", "230400"};
    switch (mCount++ % 8) {
    case 0:
        return command({"get", "status"});
    case 1:
        return command({"set", "rate", rates[between(0, 4)], "8N1"});
    case 2:
    case 6:
        return binary(between(mMin, mMax), false);
    case 3: {
        char address[8];
        std::snprintf(address, sizeof address, "0x%04X", between(0, 0xFFFF));
        std::vector<std::string> words{"write", address};
        for (int n = between(1, 16); n > 0; --n)
            words.push_back(std::to_string(between(0, 255)));
        return command(std::move(words));
    }
    case 4:
        return binary(between(mMin, mMax), true);
    case 5:
        // Leading whitespace is skipped by the split and is no part of a word.
        return command({"ping", std::to_string(mCount)}, "  ");
    default:
        return binary(mMax, false);
    }
}

bool sameWords(char *line, const std::vector<std::string> &words)
{
    char **list = cArgParser::parseList(line, ' ', ',');
    bool same = cArgParser::argCnt(list) == static_cast<int>(words.size());
    for (size_t i = 0; same && i < words.size(); ++i)
        same = words[i] == list[i];
    delete[] list;
    return same;
}
