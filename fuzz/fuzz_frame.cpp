// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// Building frames from arbitrary payloads. The output buffer is exactly the
// documented 2 * len + 6 bytes on the heap, so AddressSanitizer sees any
// write past it. Checks the frame's shape (flags only at the ends) and that
// receiving it gives the payload back whenever it fits the receiver.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <log4cpp/Category.hh>

#include "hdlc.h"

#include "check.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    log4cpp::Category::getInstance("cHDLCFramer").setPriority(log4cpp::Priority::ERROR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const int len = static_cast<int>(size);
    const size_t room = 2 * size + 6;
    std::unique_ptr<unsigned char[]> src(new unsigned char[size ? size : 1]);
    if (size)
        std::memcpy(src.get(), data, size);
    std::unique_ptr<unsigned char[]> wire(new unsigned char[room]);

    static cHDLC framer;
    int wireLen = -1;
    framer.frameData(src.get(), len, wire.get(), &wireLen);
    CHECK(wireLen >= 4 && static_cast<size_t>(wireLen) <= room);
    CHECK(wire[0] == 0x7E && wire[static_cast<size_t>(wireLen) - 1] == 0x7E);
    for (int i = 1; i < wireLen - 1; ++i)
        CHECK(wire[static_cast<size_t>(i)] != 0x7E);

    if (len > 1021)
        return 0;
    framer.reset();
    unsigned char back[1023];
    int backLen = -1;
    bool got = false;
    for (int i = 0; i < wireLen; ++i)
        got = framer.unFrameByte(wire[static_cast<size_t>(i)], back, &backLen);
    CHECK(got && backLen == len);
    CHECK(size == 0 || std::memcmp(back, data, size) == 0);
    return 0;
}
