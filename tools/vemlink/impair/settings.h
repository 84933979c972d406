// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMLINK_IMPAIR_SETTINGS_H
#define VEMLINK_IMPAIR_SETTINGS_H

// What the tap does to one direction of a link on purpose (--to-device,
// --to-app): the impairment words ("loss 5% corrupt 2%"), read into
// numbers. A word not given leaves its value at 0, which does nothing.
#include <string>

namespace impair {

struct Settings {
    // Probabilities from 0 to 1, of each frame.
    double loss = 0;
    double duplicate = 0;
    double corrupt = 0;
    double truncate = 0;
    // Of each forwarded bit; burst is the mean length in bits of a noisy
    // stretch (0: errors independent of each other).
    double ber = 0;
    double burst = 0;
    // Seconds; delayGiven is set by the word even at 0, since it still
    // holds each frame until its closing flag.
    double delay = 0;
    double jitter = 0;
    bool delayGiven = false;
    // Bits per second of the line the bytes are paced to (0: not paced).
    long rate = 0;
    // The frame words given, even at 0: the direction holds each frame
    // until its closing flag.
    bool frameWords = false;
    // Any word given.
    bool given = false;
};

// Reads text ("loss 5% corrupt 2%", words in any order, each at most once)
// into settings. False with error naming the word and the form it takes.
bool parseSettings(const char *text, Settings &settings, std::string &error);

// The accepted words, one line each, for messages and --help.
extern const char *const WORD_FORMS;

} // namespace impair

#endif
