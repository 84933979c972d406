// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_TRAFFIC_H
#define VEMLINK_TRAFFIC_H

// The packets the demo sends: command lines a host would exchange with a
// device, and binary payloads that exercise the framing (random bytes, runs
// of the flag and escape values, payloads at the size limit).
#include <random>
#include <string>
#include <vector>

struct Packet {
    std::vector<unsigned char> bytes;
    // For a command line, its words as the sender meant them: the command,
    // then each argument. Empty for a binary payload.
    std::vector<std::string> words;
};

class Traffic {
public:
    // Binary payloads get sizes from payloadMin to payloadMax (at most 1021);
    // command lines are as long as their text. The same seed gives the same
    // packets.
    Traffic(unsigned seed, int payloadMin, int payloadMax);

    // The next packet, cycling through the kinds of traffic.
    Packet next();

private:
    Packet command(std::vector<std::string> words, const char *indent = "");
    Packet binary(int len, bool specials);
    int between(int low, int high);

    std::mt19937 mRng;
    int mMin;
    int mMax;
    unsigned mCount = 0;
};

// Splits a received command line with cArgParser::parseList(line, ' ', ',')
// and tells whether it gives exactly the words sent. line is a writable
// NUL-terminated copy of the payload; the split changes it.
bool sameWords(char *line, const std::vector<std::string> &words);

#endif
