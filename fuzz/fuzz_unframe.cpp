// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Receiving arbitrary link bytes. Checks, for every byte:
//   - nothing is written past the 1023 bytes of room (a guard follows);
//   - the result and the delivered payload agree with a plain restatement of
//     the receive rules (tests/rx_model.h: vector, bitwise CRC);
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
#include "rx_model.h"

namespace {

const int ROOM = 1023;
const int GUARD = 64;
const unsigned char GUARD_BYTE = 0xA5;
const int UNTOUCHED = -777;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    log4cpp::Category::getInstance("cHDLCFramer").setPriority(log4cpp::Priority::ERROR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    cHDLC rx;
    RxModel model;
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
        CHECK(static_cast<size_t>(outLen) + 2 == expected.size());
        CHECK(std::memcmp(dst.data(), expected.data(), expected.size()) == 0);

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
