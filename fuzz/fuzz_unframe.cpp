// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Receiving arbitrary link bytes. Checks, for every byte:
//   - nothing is written past the 1023 bytes of room (a guard follows);
//   - the result and the delivered payload agree with a plain restatement of
//     the receive rules (vector, bitwise CRC) kept beside the framer;
//   - *outLen is 0 for plain bytes, untouched for a failing frame, and 0 to
//     1021 for a delivered one;
//   - a delivered payload framed again and received by a second framer comes
//     back identical.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <log4cpp/Category.hh>

#include "hdlc.h"

#include "check.h"
#include "fcs16_reference.h"

namespace {

const int ROOM = 1023;
const int GUARD = 64;
const unsigned char GUARD_BYTE = 0xA5;
const int UNTOUCHED = -777;

// The receive rules, restated without the framer's shortcuts.
struct Model {
    std::vector<unsigned char> held;
    bool escaped = false;

    // Returns 1 for a delivered frame (payload in out), 0 for a plain byte,
    // -1 for a flag that ended a failing frame.
    int take(unsigned char b, std::vector<unsigned char> &out)
    {
        if (b == 0x7E) {
            int r = 0;
            if (!held.empty()) {
                r = -1;
                if (bitwiseFcs(held.data(), held.size()) == 0xF0B8) {
                    out.assign(held.begin(), held.end() - 2);
                    r = 1;
                }
            }
            held.clear();
            escaped = false;
            return r;
        }
        if (escaped) {
            held.push_back(b ^ 0x20);
            escaped = false;
        } else if (b == 0x7D) {
            escaped = true;
        } else {
            held.push_back(b);
        }
        if (held.size() >= 1024) {
            held.clear();
            escaped = false;
        }
        return 0;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    log4cpp::Category::getInstance("cHDLCFramer").setPriority(log4cpp::Priority::ERROR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    cHDLC rx;
    Model model;
    std::vector<unsigned char> dst(ROOM + GUARD, GUARD_BYTE);
    std::vector<unsigned char> expected;
    for (size_t i = 0; i < size; ++i) {
        int outLen = UNTOUCHED;
        const bool got = rx.unFrameByte(data[i], dst.data(), &outLen);
        for (int g = ROOM; g < ROOM + GUARD; ++g)
            CHECK(dst[static_cast<size_t>(g)] == GUARD_BYTE);

        const int want = model.take(data[i], expected);
        CHECK(got == (want == 1));
        if (want == 0)
            CHECK(outLen == 0);
        if (want == -1)
            CHECK(outLen == UNTOUCHED);
        if (!got)
            continue;
        CHECK(outLen >= 0 && outLen <= 1021);
        CHECK(static_cast<size_t>(outLen) == expected.size());
        CHECK(expected.empty() || std::memcmp(dst.data(), expected.data(), expected.size()) == 0);

        // Round trip through a second framer.
        std::vector<unsigned char> wire(2 * static_cast<size_t>(outLen) + 6);
        int wireLen = 0;
        cHDLC tx;
        tx.frameData(dst.data(), outLen, wire.data(), &wireLen);
        unsigned char back[ROOM];
        int backLen = UNTOUCHED;
        bool again = false;
        for (int k = 0; k < wireLen; ++k)
            again = tx.unFrameByte(wire[static_cast<size_t>(k)], back, &backLen);
        CHECK(again && backLen == outLen);
        CHECK(outLen == 0 || std::memcmp(back, dst.data(), static_cast<size_t>(outLen)) == 0);
    }
    return 0;
}
