// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

#ifndef VEMUTILS_TEST_RX_MODEL_H
#define VEMUTILS_TEST_RX_MODEL_H

// The framer's receive rules restated plainly: a vector for the bytes held,
// a flag for a pending escape, the bitwise FCS. No word tricks, no table, no
// shortcuts; the unit tests and the fuzz target hold the framer to it.
#include <vector>

#include "fcs16_reference.h"

struct RxModel {
    std::vector<unsigned char> held;
    bool escaped = false;
    unsigned short crc = 0xFFFF;

    // Returns 1 for a delivered frame (payload and FCS bytes in out), 0 for
    // any other byte, -1 for a flag that ended a frame failing the check.
    int take(unsigned char b, std::vector<unsigned char> &out)
    {
        if (b == 0x7E) {
            int r = 0;
            if (!held.empty()) {
                r = -1;
                if (crc == 0xF0B8) {
                    out = held;
                    r = 1;
                }
            }
            clear();
            return r;
        }
        if (escaped) {
            keep(static_cast<unsigned char>(b ^ 0x20));
            escaped = false;
        } else if (b == 0x7D) {
            escaped = true;
        } else {
            keep(b);
        }
        if (held.size() >= 1024)
            clear(); // overlong: dropped, what follows is a new frame
        return 0;
    }

    void keep(unsigned char v)
    {
        held.push_back(v);
        crc = bitwiseStep(v, crc);
    }

    void clear()
    {
        held.clear();
        escaped = false;
        crc = 0xFFFF;
    }
};

#endif
